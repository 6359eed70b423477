// Hashing and randomness for the server: every secret (token, session, signed
// address) comes from the system's cryptographic generator.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace cloud::crypto {

// n random bytes from the cryptographic generator, as 2n lower-case hex digits.
std::string randomHex(std::size_t bytes);
std::string randomBytes(std::size_t bytes);

std::string toHex(std::string_view bytes, bool upper = false);

// MD5 over the text, 32 upper-case hex digits (the request signature's digest).
std::string md5HexUpper(std::string_view text);

// Streaming MD5 for file contents; the result is 32 lower-case hex digits.
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5 &) = delete;
    Md5 &operator=(const Md5 &) = delete;
    void update(const void *data, std::size_t size);
    std::string finalHex();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// MD5 of a whole file (lower-case hex), empty when it cannot be read.
std::string md5OfFile(const std::string &path);

// PBKDF2-HMAC-SHA256 with a 32-byte result.
std::string pbkdf2(std::string_view password, std::string_view salt, int iterations);

std::string hmacSha256(std::string_view key, std::string_view message);

// Comparison whose time does not depend on where the texts differ.
bool equalConstantTime(std::string_view a, std::string_view b);

} // namespace cloud::crypto
