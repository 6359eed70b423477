#pragma once

#include "service/ServiceClient.h"
#include "store/RunContext.h"

class GenericDAO;

// Asks the service to retire the cloud items of track versions that newer
// ones replaced (a retag, a better rip), naming the item that replaces each.
// A track keeps what it replaces until the service agreed, so a request lost
// to a failure or a kill is sent again by the next sync. Blocks: run it off
// the main thread. Answers how many were retired.
namespace RetireReplaced {

int run(GenericDAO &store, const ServiceClient &client, const RunContext &context);

} // namespace RetireReplaced
