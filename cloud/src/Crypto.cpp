#include "Crypto.h"

#include <cctype>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <fstream>
#include <stdexcept>
#include <vector>

namespace cloud::crypto {

std::string randomBytes(std::size_t bytes) {
    std::string out(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(out.data()), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("the cryptographic random generator failed");
    return out;
}

std::string randomHex(std::size_t bytes) {
    return toHex(randomBytes(bytes));
}

std::string toHex(std::string_view bytes, bool upper) {
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

struct Digest::Impl {
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    ~Impl() { EVP_MD_CTX_free(ctx); }
};

Digest::Digest(DigestKind kind)
    : impl_(std::make_unique<Impl>()) {
    const EVP_MD *md = kind == DigestKind::Md5 ? EVP_md5() : EVP_sha256();
    if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx, md, nullptr) != 1)
        throw std::runtime_error("the message digest is not available");
}

Digest::~Digest() = default;

void Digest::update(const void *data, std::size_t size) {
    EVP_DigestUpdate(impl_->ctx, data, size);
}

std::string Digest::finalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(impl_->ctx, digest, &len);
    return toHex(std::string_view(reinterpret_cast<const char *>(digest), len));
}

std::string md5HexUpper(std::string_view text) {
    Md5 md5;
    md5.update(text.data(), text.size());
    std::string hex = md5.finalHex();
    for (char &c : hex)
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    return hex;
}

std::string md5Base64(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1)
        throw std::runtime_error("MD5 failed");
    std::string out(4 * ((size + 2) / 3), '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()), digest,
                                        static_cast<int>(size));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::string sha256Hex(std::string_view text) {
    Sha256 sha;
    sha.update(text.data(), text.size());
    return sha.finalHex();
}

std::string digestOfFile(const std::string &path, DigestKind kind) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    Digest digest(kind);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        digest.update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        return {};
    return digest.finalHex();
}

std::string pbkdf2(std::string_view password, std::string_view salt, int iterations) {
    std::string out(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(out.size()),
                          reinterpret_cast<unsigned char *>(out.data())) != 1)
        throw std::runtime_error("PBKDF2 failed");
    return out;
}

std::string hmacSha256(std::string_view key, std::string_view message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char *>(message.data()), message.size(), digest, &len);
    return std::string(reinterpret_cast<const char *>(digest), len);
}

bool equalConstantTime(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::optional<std::string> fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const auto digit = [](char c) -> int {
            if (c >= '0' && c <= '9')
                return c - '0';
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        };
        const int hi = digit(hex[i]);
        const int lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

} // namespace cloud::crypto
