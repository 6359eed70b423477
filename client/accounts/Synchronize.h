#pragma once

#include "service/JSONRecievedDataParser.h"
#include "store/User.h"

#include <QString>

#include <optional>

#include "store/RunContext.h"

class QObject;

// The sign-in exchange and the cloud library listing. Both block the calling
// thread for one exchange with the service: never call them on the main
// thread.
class Synchronize {
public:
    // Sends the login for `user`. Answers YES when the service accepted it;
    // otherwise the coordinator's syncMessage holds the localised reason
    // (or nothing, when the screen's fallback text applies). `view` is not
    // used.
    static bool login(const UserPtr &user, QObject *view = nullptr);
    // Fetches the changes of the cloud library since the last listing into
    // the coordinator's cloudLibraryTracks. A listing the service refuses
    // stops the running sync. On failure `whyNot` (when given) gets the
    // reason in words for the person (a listing that is too large, a
    // service that cannot be reached, a lost session).
    static bool getUserMediaFromCloud(QString *whyNot = nullptr);
    // The same for the account of a run (its session, whatever happened to
    // the sign-in since).
    static bool getUserMediaFromCloud(const RunContext &context, QString *whyNot = nullptr);
    // The listing of the changes since `since` (0: everything) for the
    // context's account, or nothing with `whyNot`; `refused` tells a session
    // the service no longer accepts. Keeps nothing of it.
    static std::optional<JSONRecievedDataParser::CloudListing>
    listCloudMedia(const RunContext &context, qint64 since, QString *whyNot = nullptr,
                   bool *refused = nullptr);
};
