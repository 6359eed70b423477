#pragma once

#include <QStringList>

// What --status prints, from the store and the preferences alone (no network):
// the account, the library choice, the download folder, the stored tracks,
// those waiting for upload, those the service has not answered yet, and the
// last sync's time and outcome.
QStringList statusReport();
