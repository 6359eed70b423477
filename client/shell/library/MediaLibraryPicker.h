#pragma once

#include "CustomView.h"
#include "settings/LibraryChoice.h"
#include "ui_MediaLibraryPicker.h"

class QButtonGroup;

// The screen on which the user says where the music collection lives: the
// music player's library, the Music folder or folders of their own choosing
// (the radio cells' tags are the choices' stored numbers). The choice is the
// checked cell until Continue stores it (and the folders, which the
// coordinator holds meanwhile) and asks for the scan summary.
class MediaLibraryPicker : public CustomView {
    Q_OBJECT
public:
    explicit MediaLibraryPicker(QWidget *parent = nullptr);

    const Ui::MediaLibraryPicker &form() const { return ui; }
    QButtonGroup *libraryPicker() const { return m_libraryPicker; }
    int currentSelectedRow() const { return m_currentSelectedRow; }
    // The choice on the screen, not yet stored.
    LibraryChoice choice() const;

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
