#pragma once

#include <QString>
#include <QUrl>

// Folders the user picks to be scanned are kept as file URLs whose path ends
// in "/", so that `Utility::getFolderNameFromPath` (second-to-last part)
// yields the folder's own name rather than its parent's.
namespace FolderUrls {

// The file URL of the folder at `path`, ending in "/".
QUrl fromPath(const QString &path);

// The folder's own name, also for a URL kept without the closing "/" (as
// older settings may hold one); percent escapes decoded.
QString displayName(const QUrl &folder);

} // namespace FolderUrls
