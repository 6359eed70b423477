#pragma once

#include <QString>

// The application's localisation table: Qt id-based translations whose ids
// are the table's keys, English texts compiled into the program.
namespace Localization {

// Installs the table into the application (so that qtTrId finds it); call
// once at start-up on the main thread. Later calls do nothing. Answers
// whether the table is installed.
bool install();
// The text for a key: from a translation the application installed (a
// deployment's language), else from the table; the key itself when neither
// has an entry for it. Works from any thread, installed or not.
QString localizedString(const QString &key);

} // namespace Localization
