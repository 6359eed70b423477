#pragma once

#include "engine/TrackStates.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

#include <vector>

// The stored tracks as a table (title, artist, album, state), with a search
// that narrows the rows shown. The rows are held as read from the store in
// one statement; a view asks only for the rows it draws, so a whole
// collection costs no more to show than one screenful.
class TrackListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Title, Artist, Album, State, ColumnCount };

    explicit TrackListModel(QObject *parent = nullptr);

    // Replaces the rows (the search stays).
    void setRows(QList<TrackStates::Row> rows);
    // Shows only the rows whose title, artist, album, file or state holds
    // every word of `text` (case aside); empty shows all.
    void setSearch(const QString &text);
    QString search() const { return m_search; }
    // Every row held, whatever the search shows.
    qsizetype totalRows() const { return m_rows.size(); }
    const TrackStates::Row &rowAt(int row) const { return m_rows[m_shown[size_t(row)]]; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void refilter();
    bool matches(const TrackStates::Row &row, const QStringList &words) const;

    QList<TrackStates::Row> m_rows;
    std::vector<qsizetype> m_shown; // indexes into m_rows, in order
    QString m_search;
};
