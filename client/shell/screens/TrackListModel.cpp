#include "TrackListModel.h"

#include <QBrush>
#include <QColor>

TrackListModel::TrackListModel(QObject *parent)
    : QAbstractTableModel(parent) {}

void TrackListModel::setRows(QList<TrackStates::Row> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    refilter();
    endResetModel();
}

void TrackListModel::setSearch(const QString &text) {
    if (text == m_search)
        return;
    beginResetModel();
    m_search = text;
    refilter();
    endResetModel();
}

bool TrackListModel::matches(const TrackStates::Row &row, const QStringList &words) const {
    const QString state = TrackStates::describe(row.state, row.reason);
    for (const QString &word : words) {
        const auto in = [&word](const QString &field) {
            return field.contains(word, Qt::CaseInsensitive);
        };
        if (!in(row.title) && !in(row.artist) && !in(row.album) && !in(row.file) && !in(state))
            return false;
    }
    return true;
}

void TrackListModel::refilter() {
    m_shown.clear();
    const QStringList words = m_search.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    m_shown.reserve(size_t(m_rows.size()));
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (words.isEmpty() || matches(m_rows[i], words))
            m_shown.push_back(i);
    }
}

int TrackListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_shown.size());
}

int TrackListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrackListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= int(m_shown.size()))
        return {};
    const TrackStates::Row &row = rowAt(index.row());
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case Title:
            return row.title;
        case Artist:
            return row.artist;
        case Album:
            return row.album;
        case State:
            return TrackStates::describe(row.state, row.reason);
        default:
            return {};
        }
    }
    if (role == Qt::ToolTipRole)
        return row.file;
    if (role == Qt::ForegroundRole && index.column() == State &&
        row.state == TrackStates::State::Failed)
        return QBrush(QColor(0xb0, 0x20, 0x20));
    return {};
}

QVariant TrackListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Title:
        return QStringLiteral("Title");
    case Artist:
        return QStringLiteral("Artist");
    case Album:
        return QStringLiteral("Album");
    case State:
        return QStringLiteral("State");
    default:
        return {};
    }
}
