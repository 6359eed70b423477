#include "FolderUrls.h"

#include "Utility.h"

namespace FolderUrls {

QUrl fromPath(const QString &path) {
    return QUrl::fromLocalFile(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
}

QString displayName(const QUrl &folder) {
    QString text = folder.toString();
    if (!text.endsWith(QLatin1Char('/')))
        text += QLatin1Char('/');
    return Utility::getFolderNameFromPath(text);
}

} // namespace FolderUrls
