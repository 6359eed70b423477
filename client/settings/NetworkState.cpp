#include "NetworkState.h"

std::atomic<bool> &NetworkState::offline() {
    static std::atomic<bool> flag{false};
    return flag;
}
