#pragma once

#include "TrayStatus.h"

#include <QIcon>
#include <QString>

// The icons of the program, read from the hicolor theme folder installed
// beside it (share/icons/hicolor/, see settings/DataFolders.h). The tray icons
// are a coloured disc with a dark rim and a light glyph, so each reads on a
// dark panel and on a light one.
namespace TrayIcons {

// The theme name of the state's icon: "sonarbox-tray-idle", "-syncing",
// "-offline", "-attention".
QString name(TrayState state);
// The state's icon at every size installed (16 to 48 pixels). An icon with
// no files found is null, and says so in the log once.
QIcon forState(TrayState state);
// The application's own icon ("org.sonarbox.Sonarbox"), for windows.
QIcon application();

} // namespace TrayIcons
