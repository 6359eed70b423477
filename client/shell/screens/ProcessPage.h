#pragma once

#include "CustomView.h"
#include "sync/ProgressPage.h"
#include "ui_ProcessPage.h"

#include <QPointer>

#include <QMessageBox>

// The progress page: the sync's progress bar, what is happening, the
// Sync/Stop toggle and the buttons that lead on. It shows the coordinator's
// progress model, which the sync keeps up to date whether or not a page is on
// screen; the main window creates one page and reuses it.
class ProcessPage : public CustomView {
    Q_OBJECT
public:
    explicit ProcessPage(QWidget *parent = nullptr);
    ~ProcessPage() override;

    // The alert shown when Sync is pressed offline (none when not shown).
    QMessageBox *offlineAlert() const { return m_offlineAlert; }

public slots:
    void toggleSync();
    void doneAction();
    void nextButtonAction();

private:
    void showState();
    void showOfflineAlert();

    Ui::ProcessPage ui;
    QPointer<QMessageBox> m_offlineAlert;
    int m_reachabilityObserver = 0;
};
