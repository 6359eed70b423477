#pragma once

#include <QString>
#include <QStringList>

// Renders every screen of the program and the tray menu, in the states worth
// showing, into PNG files (the program's --render-screens). It works on the coordinator and
// store of the running process: run it with a home folder of its own.
namespace ScreenRenderer {

// `musicFolders`: two folders with songs for the scan summary (it is left out
// without them). Answers the program's exit status: 0 when every file was
// written.
int renderScreens(const QString &outDir, const QStringList &musicFolders);

} // namespace ScreenRenderer
