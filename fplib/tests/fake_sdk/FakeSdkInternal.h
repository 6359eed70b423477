#pragma once

#include <mutex>

namespace fakesdk {
std::mutex &mutex();
} // namespace fakesdk
