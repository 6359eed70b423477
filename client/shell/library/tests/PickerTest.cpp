#include "LibraryFixture.h"
#include "library/FolderCell.h"
#include "library/MediaLibraryPicker.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QTest>

namespace {

class PickerTest : public LibraryScreenTest {
protected:
    QStringList folderNames(const MediaLibraryPicker &picker) {
        QStringList names;
        QTableWidget *table = picker.form().foldersTable;
        for (int row = 0; row < table->rowCount(); ++row)
            names << qobject_cast<FolderCell *>(table->cellWidget(row, 0))->textField()->text();
        return names;
    }
    QStringList coordinatorFolders() {
        QStringList texts;
        for (const QUrl &url : sonarbox().userMediaFoldersToScan())
            texts << url.toString();
        return texts;
    }
    void holdFolders(const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls << QUrl::fromLocalFile(p);
        sonarbox().setUserMediaFoldersToScan(urls);
    }
};

TEST_F(PickerTest, ShowsItsTextsAndTheStoredChoice) {
    MediaLibraryPicker picker;
    const auto &ui = picker.form();
    EXPECT_EQ(picker.viewName(), "MediaLibraryPicker");
    EXPECT_EQ(ui.viewText->text(), "Where is your music?");
    EXPECT_EQ(ui.itunesOptionLabel->text(), "Music player library (MPD)");
    EXPECT_EQ(ui.musicFolderOptionLabel->text(), "Music Folder");
    EXPECT_EQ(ui.otherFolderOptionLabel->text(), "Other folders");
    EXPECT_EQ(ui.continueBtn->text(), "Continue");
    EXPECT_EQ(ui.addFolderButton->text(), "Add folder");
    EXPECT_EQ(ui.removeFolderButton->text(), "Remove folder");
    EXPECT_EQ(ui.songsFoundLabel->text(), "Found: 0 songs");
    EXPECT_EQ(screenMenu.calls, QStringList{"LibraryPickerView"});
    // A fresh start holds choice 1; the folder block belongs to choice 3 only.
    EXPECT_TRUE(ui.itunesOptionLabel->isChecked());
    EXPECT_TRUE(ui.tableViewHolder->isHidden());
    EXPECT_TRUE(ui.addFolderButton->isHidden());
    EXPECT_TRUE(ui.removeFolderButton->isHidden());

    ui.otherFolderOptionLabel->click();
    EXPECT_EQ(picker.choice(), LibraryChoice::ChosenFolders);
    EXPECT_FALSE(ui.tableViewHolder->isHidden());
    EXPECT_FALSE(ui.addFolderButton->isHidden());
    EXPECT_FALSE(ui.removeFolderButton->isHidden());
    ui.musicFolderOptionLabel->click();
    EXPECT_EQ(picker.choice(), LibraryChoice::MusicFolder);
    EXPECT_TRUE(ui.tableViewHolder->isHidden());
    EXPECT_TRUE(ui.removeFolderButton->isHidden());
}

TEST_F(PickerTest, AddingTheSameFolderTwiceListsItTwiceAndCancelChangesNothing) {
    MediaLibraryPicker picker;
    picker.form().otherFolderOptionLabel->click();

    nextAnswer = {"/srv/music/Jazz Age"};
    picker.form().addFolderButton->click();
    picker.form().addFolderButton->click();
    nextAnswer = {};
    picker.form().addFolderButton->click();

    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].message, "Pick a folder to scan for media files...");
    EXPECT_TRUE(requests[0].multipleSelection);
    EXPECT_EQ(requests[0].parent, &picker);
    EXPECT_EQ(coordinatorFolders(),
              QStringList({"file:///srv/music/Jazz Age/", "file:///srv/music/Jazz Age/"}));
    EXPECT_EQ(folderNames(picker), QStringList({"Jazz Age", "Jazz Age"}));

    // Several folders chosen at once are appended in their order.
    nextAnswer = {"/a/Rock/", "/b/Folk"};
    picker.addOtherFolder();
    EXPECT_EQ(folderNames(picker), QStringList({"Jazz Age", "Jazz Age", "Rock", "Folk"}));
}

// A folder is listed by its own name, never its parent's: whether the user
// just chose it or it was kept (by older settings) without the closing "/".
TEST_F(PickerTest, FoldersAreListedByTheirOwnName) {
    holdFolders({"/home/ada/tmp.x1/My Albums", "/home/ada/Music%20Box"});
    MediaLibraryPicker picker;
    picker.form().otherFolderOptionLabel->click();
    nextAnswer = {"/home/ada/tmp.x2/My Albums"};
    picker.addOtherFolder();
    EXPECT_EQ(folderNames(picker), QStringList({"My Albums", "Music%20Box", "My Albums"}));
    EXPECT_EQ(coordinatorFolders().last(), "file:///home/ada/tmp.x2/My Albums/");
}

TEST_F(PickerTest, RemoveActsOnTheSelectedRowAndTheLastRemovalDisablesIt) {
    holdFolders({"/m/A/", "/m/B/", "/m/C/"});
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    MediaLibraryPicker picker;
    QPushButton *remove = picker.form().removeFolderButton;
    EXPECT_FALSE(remove->isEnabled());

    picker.form().foldersTable->setCurrentCell(1, 0);
    EXPECT_TRUE(remove->isEnabled());
    EXPECT_EQ(picker.currentSelectedRow(), 1);
    remove->click();
    EXPECT_EQ(folderNames(picker), QStringList({"A", "C"}));
    // The row that moved up is the selected one now.
    EXPECT_EQ(picker.currentSelectedRow(), 1);
    remove->click();
    EXPECT_EQ(folderNames(picker), QStringList({"A"}));
    EXPECT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(folderNames(picker), QStringList());
    EXPECT_FALSE(remove->isEnabled());

    picker.removeOtherFolder();
    EXPECT_TRUE(coordinatorFolders().isEmpty());
    EXPECT_FALSE(remove->isEnabled());
}

TEST_F(PickerTest, RemoveWithARowThatNoLongerExistsKeepsTheList) {
    holdFolders({"/m/A/", "/m/B/", "/m/C/"});
    sonarbox().setUserPickedMediaLibrary(LibraryChoice::ChosenFolders);
    MediaLibraryPicker picker;

    // Nothing selected yet.
    picker.removeOtherFolder();
    EXPECT_EQ(coordinatorFolders().size(), 3);

    // The list shrank elsewhere after the last row was selected.
    picker.form().foldersTable->setCurrentCell(2, 0);
    holdFolders({"/m/A/", "/m/B/"});
    picker.removeOtherFolder();
    EXPECT_EQ(coordinatorFolders(), QStringList({"file:///m/A/", "file:///m/B/"}));
}

TEST_F(PickerTest, ContinueWithOtherFoldersStaysUntilThereIsAFolderThenStoresBoth) {
    MediaLibraryPicker picker;
    picker.form().otherFolderOptionLabel->click();
    picker.form().continueBtn->click();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(preference("userPickedMediaLibrary").toInt(), 1);

    nextAnswer = {"/m/Jazz", "/m/Rock"};
    picker.form().addFolderButton->click();
    picker.form().continueBtn->click();

    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(posted[0].name, "showMediaScanSummaryNotification");
    EXPECT_EQ(posted[0].object, &picker);
    EXPECT_EQ(preference("userPickedMediaLibrary").toInt(), 3);
    const QVariantList blobs = preference("userMediaFoldersToScan").toList();
    ASSERT_EQ(blobs.size(), 2);
    EXPECT_EQ(blobs[0].toByteArray(), "file:///m/Jazz/");
    EXPECT_EQ(blobs[1].toByteArray(), "file:///m/Rock/");
    // The library counts as picked only after the scan summary's Next.
    EXPECT_FALSE(preference("didUserPickedMediaLibrary").isValid());
}

TEST_F(PickerTest, ContinueWithTheMusicFolderStoresOnlyTheChoice) {
    holdFolders({"/m/Jazz/"});
    MediaLibraryPicker picker;
    picker.form().musicFolderOptionLabel->click();
    picker.form().continueBtn->click();
    ASSERT_EQ(posted.size(), 1);
    EXPECT_EQ(preference("userPickedMediaLibrary").toInt(), 2);
    EXPECT_FALSE(preference("userMediaFoldersToScan").isValid());
}

TEST_F(PickerTest, ComingBackShowsThePreviousChoiceAndItsFolders) {
    {
        MediaLibraryPicker first;
        first.form().otherFolderOptionLabel->click();
        nextAnswer = {"/m/Jazz", "/m/Rock"};
        first.addOtherFolder();
        first.gotoMediaScanSummaryPage();
    }
    MediaLibraryPicker back;
    EXPECT_TRUE(back.form().otherFolderOptionLabel->isChecked());
    EXPECT_FALSE(back.form().tableViewHolder->isHidden());
    EXPECT_FALSE(back.form().addFolderButton->isHidden());
    EXPECT_EQ(folderNames(back), QStringList({"Jazz", "Rock"}));

    back.form().musicFolderOptionLabel->click();
    back.gotoMediaScanSummaryPage();
    MediaLibraryPicker again;
    EXPECT_TRUE(again.form().musicFolderOptionLabel->isChecked());
    EXPECT_TRUE(again.form().tableViewHolder->isHidden());
}

TEST_F(PickerTest, WorksFromTheKeyboard) {
    QWidget window;
    auto *picker = new MediaLibraryPicker(&window);
    window.resize(480, 420);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto &ui = picker->form();

    for (QWidget *w : picker->findChildren<QWidget *>())
        if (w->focusPolicy() & Qt::TabFocus) {
            EXPECT_FALSE(w->accessibleName().isEmpty()) << qPrintable(w->objectName());
        }

    // Tab from the choice to Continue, Enter presses it.
    ui.itunesOptionLabel->setFocus();
    for (int i = 0; i < 5 && QApplication::focusWidget() != ui.continueBtn; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), ui.continueBtn);
    QTest::keyClick(ui.continueBtn, Qt::Key_Return);
    ASSERT_EQ(posted.size(), 1);

    // Escape takes the keyboard back to the chosen source.
    QTest::keyClick(ui.continueBtn, Qt::Key_Escape);
    EXPECT_EQ(QApplication::focusWidget(), ui.itunesOptionLabel);
    // Enter away from any button still means Continue.
    QTest::keyClick(ui.itunesOptionLabel, Qt::Key_Enter);
    EXPECT_EQ(posted.size(), 2);
}

} // namespace
