#include "FolderDialogs.h"

#include "engine/Sonarbox.h"

#include <QAbstractItemView>
#include <QFileDialog>
#include <QMutex>
#include <QPointer>

namespace {

QMutex g_lock;
FolderDialogs::Chooser g_chooser;

void openSheet(const FolderDialogs::Request &request, FolderDialogs::Answer answer) {
    QWidget *window = request.parent ? request.parent->window() : nullptr;
    auto *dialog = new QFileDialog(window, request.message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setAccessibleName(request.message);
    if (request.multipleSelection) {
        // Only Qt's own dialog lets several folders be picked at once.
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        const QList<QAbstractItemView *> views = dialog->findChildren<QAbstractItemView *>();
        for (QAbstractItemView *view : views)
            view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    }
    dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    // One answer per dialog, whichever way it closes.
    auto answered = std::make_shared<bool>(false);
    QObject::connect(
        dialog, &QFileDialog::finished, dialog, [dialog, answer, answered](int result) {
            if (*answered)
                return;
            *answered = true;
            answer(result == QDialog::Accepted ? dialog->selectedFiles() : QStringList());
        });
    dialog->open();
}

} // namespace

namespace FolderDialogs {

void setChooser(Chooser chooser) {
    QMutexLocker locker(&g_lock);
    g_chooser = std::move(chooser);
}

void chooseFolders(const Request &request, Answer answer) {
    Chooser chooser;
    {
        QMutexLocker locker(&g_lock);
        chooser = g_chooser;
    }
    if (chooser)
        chooser(request, std::move(answer));
    else
        openSheet(request, std::move(answer));
}

void installDownloadFolderChooser(QWidget *parent) {
    const QPointer<QWidget> sheetParent(parent);
    Sonarbox::instance().setFolderChooser(
        [sheetParent](const QString &message, std::function<void(std::optional<QString>)> done) {
            chooseFolders({sheetParent.data(), message, false}, [done](const QStringList &folders) {
                if (folders.isEmpty())
                    done(std::nullopt);
                else
                    done(folders.first());
            });
        });
}

} // namespace FolderDialogs
