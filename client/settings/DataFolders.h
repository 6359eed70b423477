#pragma once

#include <QString>

// Where the programs' read-only data lives: `<prefix>/share/sonarbox/` (fonts,
// translations, the default deployment configuration) and
// `<prefix>/share/icons/hicolor/`, found from the running executable
// (`<prefix>/bin/…`). So the same files work under /usr and unpacked in any
// folder, and no source or build folder is needed. A program run from the
// build tree that made it uses the copy that build stages in
// `<build>/share/`, and only then.
namespace DataFolders {

// `<prefix>/share`.
QString shareFolder();
// `<prefix>/share/sonarbox/<relative>` (the folder itself when empty).
QString dataFile(const QString &relative = QString());
// `<prefix>/share/icons/hicolor/<relative>`.
QString iconFile(const QString &relative);

// The share folder an executable in `executableFolder` uses: the one beside
// it when it holds the deployment configuration; else `buildShare` when the
// executable lies inside `buildFolder`; else the one beside it, missing.
QString shareFolderFor(const QString &executableFolder, const QString &buildFolder,
                       const QString &buildShare);

} // namespace DataFolders
