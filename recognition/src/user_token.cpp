#include "user_token.h"

#include "digest.h"
#include "engine_config.h"

#include <chrono>
#include <openssl/rand.h>
#include <vector>

namespace recog {

namespace {

constexpr std::string_view kPrefix = "TMU1.";
constexpr size_t kMaxText = 4096;

bool fromHex(std::string_view hex, std::string &out) {
    if (hex.size() % 2)
        return false;
    out.clear();
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += char(hi << 4 | lo);
    }
    return true;
}

std::string toHexText(std::string_view s) {
    return toHex(reinterpret_cast<const uint8_t *>(s.data()), s.size(), false);
}

std::string mac(std::string_view key, std::string_view signedPart) {
    const auto d = hmacSha256(key, signedPart);
    return toHex(d.data(), d.size(), false);
}

bool printable(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

} // namespace

bool UserToken::createNew(std::string_view clientId, std::string_view clientTag,
                          std::string_view appVersion, UserToken &out, std::string &error) {
    if (!validClientId(clientId)) {
        error = "client ID must be 7 decimal digits";
        return false;
    }
    if (!validClientTag(clientTag)) {
        error = "client tag must be 32 upper-case hexadecimal characters";
        return false;
    }
    if (appVersion.size() > 64 || !printable(appVersion)) {
        error = "unusable application version";
        return false;
    }
    unsigned char id[16];
    if (RAND_bytes(id, sizeof id) != 1) {
        error = "no random bytes for a user ID";
        return false;
    }
    out.clientId = clientId;
    out.clientTag = clientTag;
    out.userId = toHex(id, sizeof id, false);
    out.appVersion = appVersion;
    out.created = std::chrono::duration_cast<std::chrono::seconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    return true;
}

std::string UserToken::serialize(std::string_view key) const {
    const std::string payload = "client_id=" + clientId + "\nclient_tag=" + clientTag +
                                "\nuser=" + userId + "\napp=" + appVersion +
                                "\ncreated=" + std::to_string(created);
    const std::string signedPart = std::string(kPrefix) + toHexText(payload);
    return signedPart + "." + mac(key, signedPart);
}

bool UserToken::parse(std::string_view text, std::string_view key, UserToken &out,
                      std::string &error) {
    error = "serialised user is not one this engine made";
    if (text.size() > kMaxText || text.substr(0, kPrefix.size()) != kPrefix)
        return false;
    const auto dot = text.rfind('.');
    if (dot < kPrefix.size())
        return false;
    const std::string_view signedPart = text.substr(0, dot);
    if (!equalConstantTime(text.substr(dot + 1), mac(key, signedPart))) {
        error = "serialised user has no valid signature for this catalogue";
        return false;
    }
    std::string payload;
    if (!fromHex(signedPart.substr(kPrefix.size()), payload))
        return false;
    UserToken t;
    std::string_view rest = payload;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        const std::string_view line = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos)
            return false;
        const std::string_view k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "client_id")
            t.clientId = v;
        else if (k == "client_tag")
            t.clientTag = v;
        else if (k == "user")
            t.userId = v;
        else if (k == "app")
            t.appVersion = v;
        else if (k == "created")
            t.created = std::atoll(std::string(v).c_str());
    }
    if (!validClientId(t.clientId) || !validClientTag(t.clientTag) || t.userId.size() != 32)
        return false;
    out = t;
    return true;
}

} // namespace recog
