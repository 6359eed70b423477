#pragma once

#include "store/RunContext.h"

#include <QString>

// The one place that decides whether a request of the client may go out.
// Every request passes it (the JSON exchanges, uploads, downloads) under the
// name of its process ("getUserContentProcess", "upload", "download" …).
// Outside a dry run everything goes; in a dry run only the requests known to
// read and change nothing, so that a request kind added later is held back
// until someone has said it only reads.
namespace RequestGate {

// False (logged as a warning) when the request is not to be sent.
bool allows(const RunContext &context, const QString &request);

} // namespace RequestGate
