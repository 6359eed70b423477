#pragma once

#include <atomic>

// Whether the network is gone, as the reachability monitor last said. The
// coordinator writes it; the request transport and the stages read it, from
// any thread, without reaching up to the coordinator.
namespace NetworkState {

std::atomic<bool> &offline();

} // namespace NetworkState
