#pragma once

#include <QStringList>

#include <functional>

class QWidget;

// The folder choosers of the library screens. A chooser opens as a sheet on
// the window of the screen that asks (window-modal, so the rest of the
// program keeps running) and answers later; tests, which cannot click a
// modal dialog, put a chooser of their own in its place.
namespace FolderDialogs {

struct Request {
    QWidget *parent = nullptr;
    QString message;
    bool multipleSelection = false;
};
// The chosen folders' paths; empty when the user cancelled.
using Answer = std::function<void(const QStringList &folders)>;
using Chooser = std::function<void(const Request &request, Answer answer)>;

// Replaces the dialog; an empty chooser restores it.
void setChooser(Chooser chooser);

// Asks for folders (one, or several with `multipleSelection`).
void chooseFolders(const Request &request, Answer answer);

// Points the coordinator's download-folder chooser at a sheet on `parent`'s
// window (while `parent` lives; a free-standing dialog afterwards).
void installDownloadFolderChooser(QWidget *parent);

} // namespace FolderDialogs
