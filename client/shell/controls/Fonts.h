#pragma once

#include <QFont>
#include <QString>

// Registers the program's Raleway faces ("Raleway-Regular", "Raleway-Medium",
// "Raleway-Heavy") from the built-in resources, in that order. The screens
// cannot be drawn without them: a face that cannot be read or registered
// answers false and says which in `error`. Later calls after a success do
// nothing. Main thread only.
bool registerCustomFonts(QString *error);

// The same from the files `<face>.ttf` in `directory`; no memory of success.
bool registerCustomFontsFrom(const QString &directory, QString *error);

// A font by the face name the screens use ("Raleway", "Raleway-Regular",
// "Raleway-Medium", "Raleway-Heavy"; "Raleway" with `bold`), sized in pixels:
// a point of the screen layouts is one device-independent pixel.
QFont customFont(const QString &face, int pixelSize, bool bold = false);
