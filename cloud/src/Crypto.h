// Hashing and randomness for the server: every secret (token, session, signed
// address) comes from the system's cryptographic generator.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace cloud::crypto {

// n random bytes from the cryptographic generator, as 2n lower-case hex digits.
std::string randomHex(std::size_t bytes);
std::string randomBytes(std::size_t bytes);

std::string toHex(std::string_view bytes, bool upper = false);
// nullopt unless `hex` is pairs of hex digits (either case).
std::optional<std::string> fromHex(std::string_view hex);

// MD5 over the text, 32 upper-case hex digits (the request signature's digest).
std::string md5HexUpper(std::string_view text);
// MD5 over the text in base64, as a Content-MD5 header gives it.
std::string md5Base64(std::string_view text);

enum class DigestKind { Md5, Sha256 };

// Streaming digest of file contents; the result is lower-case hex.
class Digest {
public:
    explicit Digest(DigestKind kind);
    ~Digest();
    Digest(const Digest &) = delete;
    Digest &operator=(const Digest &) = delete;
    void update(const void *data, std::size_t size);
    std::string finalHex();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// MD5 is the checksum the protocol speaks; it is no proof that two files are
// the same, which is what SHA-256 is for.
class Md5 : public Digest {
public:
    Md5()
        : Digest(DigestKind::Md5) {}
};

class Sha256 : public Digest {
public:
    Sha256()
        : Digest(DigestKind::Sha256) {}
};

// Digest of a whole file (lower-case hex), empty when it cannot be read.
std::string digestOfFile(const std::string &path, DigestKind kind);
inline std::string md5OfFile(const std::string &path) {
    return digestOfFile(path, DigestKind::Md5);
}
inline std::string sha256OfFile(const std::string &path) {
    return digestOfFile(path, DigestKind::Sha256);
}

// SHA-256 of a text as 64 lower-case hex digits (how stored tokens are kept).
std::string sha256Hex(std::string_view text);

// PBKDF2-HMAC-SHA256 with a 32-byte result.
std::string pbkdf2(std::string_view password, std::string_view salt, int iterations);

std::string hmacSha256(std::string_view key, std::string_view message);

// Comparison whose time does not depend on where the texts differ.
bool equalConstantTime(std::string_view a, std::string_view b);

} // namespace cloud::crypto
