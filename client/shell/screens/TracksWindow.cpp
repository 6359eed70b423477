#include "TracksWindow.h"

#include "LastSyncSummary.h"
#include "ScreenKeys.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

TracksWindow::TracksWindow(QWidget *parent)
    : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("Tracks — Sonarbox"));
    setAccessibleName(QStringLiteral("Tracks"));
    resize(760, 480);

    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("Search title, artist, album or state"));
    m_search->setAccessibleName(QStringLiteral("Search tracks"));
    m_search->setClearButtonEnabled(true);

    m_view = new QTableView(this);
    m_view->setModel(&m_model);
    m_view->setAccessibleName(QStringLiteral("Tracks"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setWordWrap(false);
    m_view->setAlternatingRowColors(true);
    // Rows of one height and columns sized by hand: a view that measures
    // its contents would look at every one of a hundred thousand rows.
    QHeaderView *rows = m_view->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_view->fontMetrics().height() + 8);
    rows->hide();
    QHeaderView *columns = m_view->horizontalHeader();
    columns->setSectionResizeMode(QHeaderView::Interactive);
    columns->resizeSection(TrackListModel::Title, 220);
    columns->resizeSection(TrackListModel::Artist, 160);
    columns->resizeSection(TrackListModel::Album, 160);
    columns->setStretchLastSection(true);

    m_count = new QLabel(this);
    m_count->setAccessibleName(QStringLiteral("Track count"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_count);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_model.setSearch(text);
        showCount();
    });
    ScreenKeys::install(this, static_cast<QAbstractButton *>(nullptr), [this] { close(); });
    connect(&m_loading, &QFutureWatcher<QList<TrackStates::Row>>::finished, this, [this] {
        m_model.setRows(m_loading.result());
        showCount();
        emit loaded();
    });
    connect(&LastSyncSummary::instance(), &LastSyncSummary::changed, this, &TracksWindow::reload);
    reload();
}

TracksWindow::~TracksWindow() {
    m_loading.disconnect(this);
    m_loading.waitForFinished();
}

void TracksWindow::reload() {
    if (m_loading.isRunning())
        return;
    m_count->setText(QStringLiteral("Reading the tracks…"));
    m_loading.setFuture(QtConcurrent::run([] { return TrackStates::load(); }));
}

void TracksWindow::showCount() {
    const qsizetype total = m_model.totalRows();
    const int shown = m_model.rowCount();
    const QString noun = total == 1 ? QStringLiteral("track") : QStringLiteral("tracks");
    m_count->setText(m_model.search().trimmed().isEmpty()
                         ? QStringLiteral("%1 %2").arg(total).arg(noun)
                         : QStringLiteral("%1 of %2 %3").arg(shown).arg(total).arg(noun));
}
