#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace recog {

std::array<uint8_t, 32> sha256(std::string_view data);
std::array<uint8_t, 32> hmacSha256(std::string_view key, std::string_view data);
std::string toHex(const uint8_t *data, size_t n, bool upper);
// Compares without leaking where the texts differ.
bool equalConstantTime(std::string_view a, std::string_view b);

} // namespace recog
