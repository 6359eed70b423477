#include "LibrarySettings.h"

#include "engine/Sonarbox.h"
#include "settings/FolderUrls.h"
#include "settings/NSDefaultsUtility.h"
#include "store/GenericDAO.h"

QList<QUrl> folderUrls(const QStringList &folders) {
    QList<QUrl> urls;
    for (const QString &folder : folders)
        urls << FolderUrls::fromPath(folder);
    return urls;
}

bool recordLibraryChoice(const LibraryRecipe &recipe) {
    Sonarbox &sonarbox = Sonarbox::instance();
    const QList<QUrl> urls = folderUrls(recipe.folders);
    const bool unchanged = sonarbox.didUserPickLibrary() &&
                           sonarbox.userPickedMediaLibrary() == recipe.choice &&
                           (recipe.choice != LibraryChoice::ChosenFolders ||
                            sonarbox.userMediaFoldersToScan() == urls);
    if (unchanged)
        return false;

    // The picker's Continue.
    sonarbox.setUserPickedMediaLibrary(recipe.choice);
    if (recipe.choice == LibraryChoice::ChosenFolders) {
        sonarbox.setUserMediaFoldersToScan(urls);
        NSDefaultsUtility::standard().getSaveUserMediaFoldersToScan(urls);
    }
    // The scan summary's Next.
    GenericDAO::instance().resetAllTracksInDB();
    sonarbox.setSyncMilliSeconds(0);
    sonarbox.setDidUserPickLibrary(true);
    NSDefaultsUtility::standard().saveDidUserPickMediaLibrary(QStringLiteral("YES"));
    return true;
}

void recordDownloadDirectory(const QString &path) {
    Sonarbox::instance().setUserDownloadDirectory(path);
    NSDefaultsUtility::standard().saveUserDownloadDirectory(path);
}
