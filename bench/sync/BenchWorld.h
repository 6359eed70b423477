#pragma once

#include "CloudProcess.h"

#include <QString>

// The engine of a sync benchmark: a local sonarbox-cloud with one account, a
// deployment configuration pointing at it, the stages installed in the
// coordinator and the account signed in.
namespace bench {

inline const QString Email = QStringLiteral("bench@example.com");
inline const QString Password = QStringLiteral("bench-password");

// Writes the configuration into `folder` and loads it. `initData`: the
// recognition engine's initialisation data (may be empty).
bool configure(const QString &folder, const CloudProcess &cloud, const QString &initData);
// Signs the account in as a new sign-in does; the coordinator holds it.
bool signIn();
// Runs one sync (with the scan) to its end while the event loop turns;
// answers the description the sync ended with.
QString syncToTheEnd();

} // namespace bench
