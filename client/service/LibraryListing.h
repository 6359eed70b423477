#pragma once

#include "JSONRecievedDataParser.h"
#include "ServiceClient.h"
#include "store/RunContext.h"

#include <QString>

#include <optional>

// The cloud library listing: the changes of an account's cloud library since
// a position, fetched in one exchange with the service. It blocks the calling
// thread: never call it on the main thread. It keeps nothing of what it
// fetched.
namespace LibraryListing {

struct Result {
    // The listing, or nothing with `whyNot`.
    std::optional<JSONRecievedDataParser::CloudListing> listing;
    // The reply's status, when a reply of the service's came (it replaces
    // the status texts of the session).
    std::optional<QString> status;
    // The service no longer accepts the session.
    bool refused = false;
    // Why there is no listing, in words for the person (a listing that is too
    // large, a service that cannot be reached, a lost session).
    QString whyNot;
};

// The changes since `since` (0: everything) for the context's account, from
// the client's service.
Result fetch(const ServiceClient &client, const RunContext &context, qint64 since);

} // namespace LibraryListing
