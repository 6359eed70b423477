#pragma once

#include "TrackListModel.h"

#include <QFutureWatcher>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTableView;

// The "Tracks" window: every stored track with what became of it, and a
// search field. The tracks are read off the main thread when the window
// opens and again after each sync.
class TracksWindow : public QWidget {
    Q_OBJECT
public:
    explicit TracksWindow(QWidget *parent = nullptr);
    ~TracksWindow() override;

    TrackListModel *model() { return &m_model; }
    QTableView *view() const { return m_view; }
    QLineEdit *searchField() const { return m_search; }
    QLabel *countLabel() const { return m_count; }
    // Whether a reading of the store is under way.
    bool isLoading() const { return m_loading.isRunning(); }

public slots:
    // Reads the tracks again (in the background).
    void reload();

signals:
    void loaded();

private:
    void showCount();

    TrackListModel m_model;
    QLineEdit *m_search = nullptr;
    QTableView *m_view = nullptr;
    QLabel *m_count = nullptr;
    QFutureWatcher<QList<TrackStates::Row>> m_loading;
};
