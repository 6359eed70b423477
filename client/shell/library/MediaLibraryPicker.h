#pragma once

#include "CustomView.h"
#include "ui_MediaLibraryPicker.h"

class QButtonGroup;

// The screen on which the user says where the music collection lives: the
// music player's library (1), the Music folder (2) or folders of their own
// choosing (3). The choice and the folders live in the coordinator; Continue
// stores them and asks for the scan summary.
class MediaLibraryPicker : public CustomView {
    Q_OBJECT
public:
    explicit MediaLibraryPicker(QWidget *parent = nullptr);

    const Ui::MediaLibraryPicker &form() const { return ui; }
    QButtonGroup *libraryPicker() const { return m_libraryPicker; }
    int currentSelectedRow() const { return m_currentSelectedRow; }

    // A radio cell was chosen (its tag is the choice code).
    void libraryPicked(int tag);
    void showOtherFoldersOptions(bool show);
    void displaySongsAmount();
    void addOtherFolder();
    void removeOtherFolder();
    void gotoMediaScanSummaryPage();
    // Rebuilds the folder table from the coordinator's list.
    void reloadFolders();

private:
    void rowSelected(int row);

    Ui::MediaLibraryPicker ui;
    QButtonGroup *m_libraryPicker;
    int m_currentSelectedRow = -1;
};
