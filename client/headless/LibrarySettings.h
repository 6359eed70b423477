#pragma once

#include "HeadlessOptions.h"

#include <QList>
#include <QUrl>

// Records where the collection lives as the library picker and the scan
// summary's Next do: the choice, the folders as file URLs, the library marked
// as picked, the stored tracks forgotten and the cloud listing started from
// the beginning. Repeating the choice that is already recorded changes
// nothing (answers false), so that a script may pass --library on every run
// without the stored tracks being forgotten each time.
bool recordLibraryChoice(const LibraryRecipe &recipe);

// Records the folder that downloaded songs go into.
void recordDownloadDirectory(const QString &path);

// Folder paths as the folder chooser hands them over: file URLs ending in "/".
QList<QUrl> folderUrls(const QStringList &folders);
