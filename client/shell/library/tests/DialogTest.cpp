#include "LibraryFixture.h"
#include "library/FolderDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The dialog itself, as the screens get it when no test replaces it.
TEST(FolderDialogTest, OpensAWindowModalSheetThatTakesSeveralFolders) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("Jazz"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("Rock"));
    QWidget window;
    auto *screen = new QWidget(&window);
    window.show();

    QStringList answer{"untouched"};
    FolderDialogs::chooseFolders({screen, "Pick a folder to scan for media files...", true},
                                 [&](const QStringList &folders) { answer = folders; });
    auto *dialog = window.findChild<QFileDialog *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->windowTitle(), "Pick a folder to scan for media files...");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(dialog->isVisible());

    dialog->setDirectory(dir.path());
    auto *list = dialog->findChild<QAbstractItemView *>("listView");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    auto *model = qobject_cast<QFileSystemModel *>(list->model());
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(TestEnvironment::waitUntil([&] {
        return model->index(dir.filePath("Rock")).isValid() &&
               model->rowCount(model->index(dir.path())) == 2;
    }));
    for (const char *name : {"Jazz", "Rock"})
        list->selectionModel()->select(model->index(dir.filePath(name)),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QMetaObject::invokeMethod(dialog, "accept");
    QStringList expected{dir.filePath("Jazz"), dir.filePath("Rock")};
    answer.sort();
    EXPECT_EQ(answer, expected);

    // Cancel answers nothing chosen.
    FolderDialogs::chooseFolders({screen, "Pick a folder to Download to...", false},
                                 [&](const QStringList &folders) { answer = folders; });
    // The first dialog is gone once closed.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(window.findChildren<QFileDialog *>().size(), 1);
    dialog = window.findChild<QFileDialog *>();
    EXPECT_EQ(dialog->windowTitle(), "Pick a folder to Download to...");
    dialog->reject();
    EXPECT_EQ(answer, QStringList());
}

} // namespace
