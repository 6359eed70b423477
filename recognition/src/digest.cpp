#include "digest.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace recog {

std::array<uint8_t, 32> sha256(std::string_view data) {
    std::array<uint8_t, 32> out{};
    unsigned int len = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_sha256(), nullptr);
    return out;
}

std::array<uint8_t, 32> hmacSha256(std::string_view key, std::string_view data) {
    std::array<uint8_t, 32> out{};
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), int(key.size()), reinterpret_cast<const uint8_t *>(data.data()),
         data.size(), out.data(), &len);
    return out;
}

std::string toHex(const uint8_t *data, size_t n, bool upper) {
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

bool equalConstantTime(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace recog
