#pragma once

#include "CustomView.h"
#include "engine/DryRun.h"
#include "settings/LibraryChoice.h"
#include "sync/StageQueue.h"
#include "ui_MediaScanSummary.h"

#include <QMessageBox>
#include <QPointer>

#include <functional>

class SummaryCellView;

// The screen that scans the chosen place while the user waits, then shows
// how many tracks were found per source and where synced music will be
// downloaded to. Next forgets the stored tracks, marks the library as picked
// and starts the first sync (without a second scan).
class MediaScanSummary : public CustomView {
    Q_OBJECT
public:
    explicit MediaScanSummary(QWidget *parent = nullptr);
    ~MediaScanSummary() override;

    const Ui::MediaScanSummary &form() const { return ui; }
    // Next; enabled once the scan has finished, which is how the table
    // tells that it has.
    QPushButton *nextButton() const { return ui.nextBtn; }
    int amountOfRows() const { return m_amountOfRows; }
    StageOperationPtr operation_scanProcess() const { return m_scanProcess; }
    SummaryCellView *cellAt(int row) const;

    void changeCustomFolder();
    void showMediaPickerView();
    void showProcessingView();
    // Preview: what the first sync would do, in a small dialog once known.
    void showPreview();
    QPushButton *previewButton() const { return ui.previewBtn; }
    QMessageBox *previewDialog() const { return m_previewDialog; }
    // Who works the preview out (the sync engine's dry run by default);
    // tests hand in another. `done` runs on the main thread.
    using Previewer = std::function<void(std::function<void(const DryRunReport &)> done)>;
    static void setPreviewer(Previewer previewer);

signals:
    // The scan's completion has been handled on the main thread.
    void scanFinished();
    // The preview's dialog is shown.
    void previewShown();

private:
    void scanProcess();
    void scanDone();
    void reloadTable();
    void fillRow(int row, SummaryCellView *cell) const;

    Ui::MediaScanSummary ui;
    LibraryChoice m_choice = LibraryChoice::MusicPlayer;
    int m_amountOfRows = 0;
    QList<QUrl> m_folders;
    StageOperationPtr m_scanProcess;
    QPointer<QMessageBox> m_previewDialog;
};
