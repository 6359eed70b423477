// Player passwords are stored encrypted: the music-player API's token scheme
// needs the password itself, so a hash would not do. The key lives in its own
// 0600 file (player.key), outside the database.
#pragma once

#include "Library.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cloud {

class PlayerSecrets {
public:
    explicit PlayerSecrets(std::string key);
    static PlayerSecrets load(const std::filesystem::path &dataDir);

    // AES-256-GCM: nonce, ciphertext and tag; the account is authenticated with
    // it, so a sealed password moved to another account's row does not open.
    std::string seal(std::string_view plain, std::int64_t userId) const;
    std::optional<std::string> open(std::string_view sealed, std::int64_t userId) const;

private:
    std::string key_;
};

struct NewPlayerPassword {
    PlayerPassword record;
    std::string password; // shown once to its owner, never stored in the clear
    std::string apiKey;   // the key ID followed by the password
};

// Names are 1 to 64 bytes of printable UTF-8.
bool isValidPlayerPasswordName(std::string_view name);
// nullopt when the account already has a player password of that name.
std::optional<NewPlayerPassword> createPlayerPassword(Store &store, const PlayerSecrets &secrets,
                                                      std::int64_t userId, const std::string &name);

// API keys are 16 hex digits of key ID and the 24 of the password.
inline constexpr std::size_t kKeyIdLength = 16;
inline constexpr std::size_t kPlayerPasswordLength = 24;

} // namespace cloud
