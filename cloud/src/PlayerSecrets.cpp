#include "PlayerSecrets.h"

#include "Crypto.h"
#include "Json.h"
#include "KeyFile.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

namespace cloud {

namespace {

constexpr std::size_t kNonce = 12;
constexpr std::size_t kTag = 16;

struct CipherFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
using Cipher = std::unique_ptr<EVP_CIPHER_CTX, CipherFree>;

const unsigned char *bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

} // namespace

PlayerSecrets::PlayerSecrets(std::string key)
    : key_(std::move(key)) {
    if (key_.size() != 32)
        throw std::invalid_argument("a player password key has 32 bytes");
}

PlayerSecrets PlayerSecrets::load(const std::filesystem::path &dataDir) {
    return PlayerSecrets(loadKey("SONARBOX_PLAYER_KEY", dataDir / "player.key", 32,
                                 "a new key is made at the next start, and every player "
                                 "password made before it stops working: remove those "
                                 "(remove-player-password) and make new ones "
                                 "(add-player-password)"));
}

std::string PlayerSecrets::seal(std::string_view plain, std::int64_t userId) const {
    const std::string nonce = crypto::randomBytes(kNonce);
    const std::string aad = std::to_string(userId);
    std::string out = nonce;
    out.resize(kNonce + plain.size() + kTag);
    auto *cipher = reinterpret_cast<unsigned char *>(out.data() + kNonce);
    Cipher ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    int total = 0;
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key_), bytes(nonce)) != 1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &len, bytes(aad), static_cast<int>(aad.size())) !=
            1 ||
        EVP_EncryptUpdate(ctx.get(), cipher, &len, bytes(plain), static_cast<int>(plain.size())) !=
            1)
        throw std::runtime_error("encryption failed");
    total = len;
    if (EVP_EncryptFinal_ex(ctx.get(), cipher + total, &len) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTag, cipher + plain.size()) != 1)
        throw std::runtime_error("encryption failed");
    return out;
}

std::optional<std::string> PlayerSecrets::open(std::string_view sealed, std::int64_t userId) const {
    if (sealed.size() < kNonce + kTag)
        return std::nullopt;
    const std::string aad = std::to_string(userId);
    const std::string_view nonce = sealed.substr(0, kNonce);
    const std::string_view cipher = sealed.substr(kNonce, sealed.size() - kNonce - kTag);
    std::string tag(sealed.substr(sealed.size() - kTag));
    std::string plain(cipher.size(), '\0');
    Cipher ctx(EVP_CIPHER_CTX_new());
    int len = 0;
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key_), bytes(nonce)) != 1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &len, bytes(aad), static_cast<int>(aad.size())) !=
            1 ||
        EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(plain.data()), &len,
                          bytes(cipher), static_cast<int>(cipher.size())) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTag, tag.data()) != 1)
        return std::nullopt;
    int finalLen = 0;
    if (EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(plain.data()) + len,
                            &finalLen) != 1)
        return std::nullopt;
    return plain;
}

bool isValidPlayerPasswordName(std::string_view name) {
    if (name.empty() || name.size() > 64 || !json::isValidUtf8(name))
        return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

std::optional<NewPlayerPassword> createPlayerPassword(Store &store, const PlayerSecrets &secrets,
                                                      std::int64_t userId,
                                                      const std::string &name) {
    NewPlayerPassword made;
    made.password = crypto::randomHex(kPlayerPasswordLength / 2);
    made.record.userId = userId;
    made.record.name = name;
    made.record.keyId = crypto::randomHex(kKeyIdLength / 2);
    made.record.sealed = secrets.seal(made.password, userId);
    made.apiKey = made.record.keyId + made.password;
    const auto stored = store.addPlayerPassword(made.record);
    if (!stored)
        return std::nullopt;
    made.record = *stored;
    return made;
}

} // namespace cloud
