// Hashing, tokens and name handling: the pieces the protocol's security rests on.
#include "Crypto.h"
#include "ServerContext.h"
#include "Store.h"
#include "TokenStore.h"

#include <gtest/gtest.h>

#include <thread>

using namespace cloud;

namespace {

TEST(CryptoTest, DigestsMatchKnownValues) {
    EXPECT_EQ(crypto::md5HexUpper(""), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(crypto::md5HexUpper("abc"), "900150983CD24FB0D6963F7D28E17F72");
    crypto::Md5 md5;
    md5.update("a", 1);
    md5.update("bc", 2);
    EXPECT_EQ(md5.finalHex(), "900150983cd24fb0d6963f7d28e17f72");
    // RFC 7914, section 11: PBKDF2-HMAC-SHA256("passwd", "salt", 1), first 32 bytes.
    EXPECT_EQ(crypto::toHex(crypto::pbkdf2("passwd", "salt", 1)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc");
    EXPECT_NE(crypto::randomHex(16), crypto::randomHex(16));
    EXPECT_EQ(crypto::randomHex(16).size(), 32u);
}

TEST(CryptoTest, PasswordHashesAreSaltedAndVerify) {
    const auto a = PasswordHash::make("secret", 1000);
    const auto b = PasswordHash::make("secret", 1000);
    EXPECT_NE(a.salt, b.salt);
    EXPECT_NE(a.hash, b.hash);
    EXPECT_TRUE(a.verify("secret"));
    EXPECT_FALSE(a.verify("Secret"));
    EXPECT_FALSE(PasswordHash{}.verify(""));
}

TEST(TokenStoreTest, TokensAreSingleUseAndExpire) {
    TokenStore store(std::chrono::seconds(60));
    const std::string t = store.issue();
    EXPECT_FALSE(store.consumeIf([](const std::string &) { return false; }));
    EXPECT_TRUE(store.consumeIf([&](const std::string &x) { return x == t; }));
    EXPECT_FALSE(store.consumeIf([&](const std::string &x) { return x == t; }));

    TokenStore expiring(std::chrono::seconds(0));
    const std::string e = expiring.issue();
    EXPECT_FALSE(expiring.consumeIf([&](const std::string &x) { return x == e; }));

    TokenStore small(std::chrono::seconds(60), 3);
    const std::string oldest = small.issue();
    for (int i = 0; i < 3; ++i)
        small.issue();
    EXPECT_EQ(small.size(), 3u);
    EXPECT_FALSE(small.consumeIf([&](const std::string &x) { return x == oldest; }));
}

TEST(NamesTest, StoredNamesAreSafeText) {
    EXPECT_EQ(sanitizeName("../../etc/passwd"), "passwd");
    EXPECT_EQ(sanitizeName("C:\\music\\song.mp3"), "song.mp3");
    EXPECT_EQ(sanitizeName(std::string("a\0b\nc.mp3", 9)), "abc.mp3");
    EXPECT_EQ(sanitizeName(".."), "Unknown");
    EXPECT_EQ(sanitizeName("dir/"), "Unknown");
    EXPECT_EQ(sanitizeName(std::string(300, 'x')).size(), 255u);
    EXPECT_TRUE(json::isValidUtf8(sanitizeName(std::string(254, 'x') + "\xC3\xA9")));
    EXPECT_TRUE(json::isValidUtf8(sanitizeName("bad \xff name")));
}

TEST(NamesTest, EmailAddresses) {
    EXPECT_TRUE(isValidEmail("ann@example.org"));
    EXPECT_TRUE(isValidEmail("a.b+tag@mail.example.co"));
    EXPECT_FALSE(isValidEmail("ann"));
    EXPECT_FALSE(isValidEmail("ann@example"));
    EXPECT_FALSE(isValidEmail(" ann@example.org"));
    EXPECT_FALSE(isValidEmail("a@b@example.org"));
    EXPECT_FALSE(isValidEmail("a@.example.org"));
    EXPECT_FALSE(isValidEmail("a@example..org"));
    EXPECT_FALSE(isValidEmail("a@example.o"));
    EXPECT_FALSE(isValidEmail("@example.org"));
    EXPECT_FALSE(isValidEmail("a b@example.org"));
}

} // namespace
