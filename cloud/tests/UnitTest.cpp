// Hashing, tokens and name handling: the pieces the protocol's security rests on.
#include "ClientAddress.h"
#include "Crypto.h"
#include "ServerContext.h"
#include "Store.h"
#include "TokenStore.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

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
    const std::string t = store.issue("10.0.0.1");
    EXPECT_FALSE(store.consumeIf("10.0.0.1", [](const std::string &) { return false; }));
    // A token counts only for the client it was issued to.
    EXPECT_FALSE(store.consumeIf("10.0.0.2", [&](const std::string &x) { return x == t; }));
    EXPECT_TRUE(store.consumeIf("10.0.0.1", [&](const std::string &x) { return x == t; }));
    EXPECT_FALSE(store.consumeIf("10.0.0.1", [&](const std::string &x) { return x == t; }));
    EXPECT_EQ(store.size(), 0u);

    TokenStore expiring(std::chrono::seconds(0));
    const std::string e = expiring.issue("10.0.0.1");
    EXPECT_FALSE(expiring.consumeIf("10.0.0.1", [&](const std::string &x) { return x == e; }));
}

// One address fetching tokens without end: its own oldest give way, another
// client's token survives, and a check tries only the flooding client's few.
TEST(TokenStoreTest, AFloodingClientCostsOnlyItself) {
    TokenStore store(std::chrono::seconds(60), 4, 100);
    const std::string victim = store.issue("10.0.0.2");
    const std::string firstOfFlood = store.issue("10.0.0.1");
    std::string lastOfFlood;
    for (int i = 0; i < 10000; ++i)
        lastOfFlood = store.issue("10.0.0.1");
    EXPECT_EQ(store.size(), 5u);

    int tried = 0;
    EXPECT_FALSE(store.consumeIf("10.0.0.1", [&](const std::string &x) {
        ++tried;
        return x == firstOfFlood;
    }));
    EXPECT_EQ(tried, 4);
    EXPECT_TRUE(
        store.consumeIf("10.0.0.1", [&](const std::string &x) { return x == lastOfFlood; }));
    EXPECT_TRUE(store.consumeIf("10.0.0.2", [&](const std::string &x) { return x == victim; }));

    // Many addresses together are bounded by the total; the oldest go first.
    TokenStore small(std::chrono::seconds(60), 4, 3);
    const std::string oldest = small.issue("a");
    small.issue("b");
    const std::string kept = small.issue("a");
    small.issue("c");
    EXPECT_EQ(small.size(), 3u);
    EXPECT_FALSE(small.consumeIf("a", [&](const std::string &x) { return x == oldest; }));
    EXPECT_TRUE(small.consumeIf("a", [&](const std::string &x) { return x == kept; }));
    small.issue("d"); // the store stays usable after a client's list emptied
    EXPECT_EQ(small.size(), 3u);
}

namespace {
sockaddr_storage addressOf(const char *text) {
    sockaddr_storage storage = {};
    if (inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in *>(&storage)->sin_addr) == 1) {
        storage.ss_family = AF_INET;
    } else {
        EXPECT_EQ(inet_pton(AF_INET6, text, &reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_addr),
                  1)
            << text;
        storage.ss_family = AF_INET6;
    }
    return storage;
}

ClientAddress describe(const char *text) {
    const sockaddr_storage storage = addressOf(text);
    return describeClient(reinterpret_cast<const sockaddr *>(&storage));
}

// The client a request from `peer` with that X-Forwarded-For counts as.
std::string clientOf(const TrustedProxies &proxies, const char *peer,
                     std::string_view forwardedFor) {
    const sockaddr_storage storage = addressOf(peer);
    return proxies.client(reinterpret_cast<const sockaddr *>(&storage), forwardedFor).limitKey;
}
} // namespace

// Limits count an IPv6 client by its /64, so one subscriber cannot spread its
// sign-in attempts or token requests over the addresses of its own network.
TEST(ClientAddressTest, LimitsCountAnIpv6NetworkAsOneClient) {
    EXPECT_EQ(describe("203.0.113.7").text, "203.0.113.7");
    EXPECT_EQ(describe("203.0.113.7").limitKey, "203.0.113.7");
    EXPECT_NE(describe("203.0.113.7").limitKey, describe("203.0.113.8").limitKey);

    const auto a = describe("2001:db8:1:2:aaaa::1");
    EXPECT_EQ(a.text, "2001:db8:1:2:aaaa::1");
    EXPECT_EQ(a.limitKey, "2001:db8:1:2::/64");
    EXPECT_EQ(describe("2001:db8:1:2:ffff:1:2:3").limitKey, a.limitKey);
    EXPECT_NE(describe("2001:db8:1:3::1").limitKey, a.limitKey);

    EXPECT_EQ(describe("::ffff:203.0.113.7").limitKey, "203.0.113.7");
    EXPECT_NE(describe("::ffff:203.0.113.7").limitKey, describe("::ffff:203.0.113.8").limitKey);
    EXPECT_EQ(describeClient(nullptr).limitKey, "");
}

TEST(ClientAddressTest, OnlyATrustedProxysForwardedForNamesTheClient) {
    const TrustedProxies proxies({"10.0.0.2", "2001:db8:ffff::2"});
    // Anyone else's header is theirs to write: ignored.
    EXPECT_EQ(clientOf(proxies, "10.0.0.3", "203.0.113.7"), "10.0.0.3");
    EXPECT_EQ(clientOf(TrustedProxies(), "10.0.0.2", "203.0.113.7"), "10.0.0.2");
    // The right-most entry that no trusted proxy wrote; IPv6 ones by their network.
    EXPECT_EQ(clientOf(proxies, "10.0.0.2", "203.0.113.7"), "203.0.113.7");
    EXPECT_EQ(clientOf(proxies, "10.0.0.2", " 198.51.100.1 ,203.0.113.7\t"), "203.0.113.7");
    EXPECT_EQ(clientOf(proxies, "10.0.0.2", "203.0.113.7, 2001:db8:ffff::2, 10.0.0.2"),
              "203.0.113.7");
    EXPECT_EQ(clientOf(proxies, "2001:db8:ffff::2", "2001:db8:1:2::9"), "2001:db8:1:2::/64");
    // A trusted IPv4 proxy reached over an IPv6 socket is the same proxy.
    EXPECT_EQ(clientOf(proxies, "::ffff:10.0.0.2", "203.0.113.7"), "203.0.113.7");
    // Nothing usable: the proxy stands for its clients.
    for (const char *unusable : {"", "10.0.0.2", "junk", "203.0.113.7,", "203.0.113.7:80",
                                 "[2001:db8::1]", "fe80::1%eth0", "203.0.113.7 198.51.100.1"})
        EXPECT_EQ(clientOf(proxies, "10.0.0.2", unusable), "10.0.0.2") << unusable;
    // Garbage left of the client is never read.
    EXPECT_EQ(clientOf(proxies, "10.0.0.2", "junk, 203.0.113.7"), "203.0.113.7");

    EXPECT_THROW(TrustedProxies({"10.0.0.256"}), std::invalid_argument);
    EXPECT_THROW(TrustedProxies({"proxy.example.org"}), std::invalid_argument);
    EXPECT_THROW(TrustedProxies({"10.0.0.0/8"}), std::invalid_argument);
}

TEST(NamesTest, StoredNamesAreSafeText) {
    EXPECT_EQ(sanitizeName("../../etc/passwd"), "passwd");
    EXPECT_EQ(sanitizeName("C:\\music\\song.mp3"), "song.mp3");
    EXPECT_EQ(sanitizeName(std::string("a\0b\nc.mp3", 9)), "abc.mp3");
    EXPECT_EQ(sanitizeName(".."), "Unknown");
    EXPECT_EQ(sanitizeName("dir/"), "Unknown");
    EXPECT_EQ(sanitizeName(std::string(300, 'x')).size(), 255u);
    EXPECT_TRUE(json::isValidUtf8(sanitizeName(std::string(254, 'x').append("\xC3\xA9"))));
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
