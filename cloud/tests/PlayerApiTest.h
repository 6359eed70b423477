// The music-player API's test fixture: one server with a library made the
// way the desktop client makes it (uploads and a catalogue match), shared by
// every PlayerApiTest of the test program, and small helpers to read answers.
#pragma once

#include "Crypto.h"
#include "TestServer.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>

namespace playerapi {

namespace fs = std::filesystem;
using cloud::json::Value;
using namespace cloudtest;

inline std::string tokenAuth(const std::string &user, const std::string &password) {
    const std::string salt = cloud::crypto::randomHex(6);
    return "u=" + percentEncode(user) + "&t=" + md5Hex(password + salt) + "&s=" + salt;
}

inline const Value &at(const Value &v, std::initializer_list<const char *> path) {
    const Value *cur = &v;
    for (const char *key : path) {
        cur = cur->find(key);
        if (!cur)
            throw std::runtime_error(std::string("no member ") + key);
    }
    return *cur;
}

inline std::string text(const Value &v, const char *key) {
    const Value *m = v.find(key);
    return m && m->isString() ? m->asString() : std::string();
}

inline std::int64_t integer(const Value &v, const char *key) {
    const Value *m = v.find(key);
    return m && m->isInteger() ? m->asInteger() : -1;
}

class PlayerApiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new TestServer();
        media = new TempDir();
        server->addUser("ann@example.com", "desktop-secret");
        server->addUser("bob@example.com", "bob-desktop");
        server->addUser("carol@example.com", "carol-desktop");
        const std::string blue =
            "-metadata album='Blue Hours' -metadata artist='Ann Band' -metadata genre=Ambient "
            "-metadata date=2019 ";
        first = new std::string(readFile(makeSong(
            media->path(), "first.mp3", 440,
            blue + "-metadata title='First Light' -metadata track=1/2 -metadata disc=1", true)));
        second = new std::string(
            readFile(makeSong(media->path(), "second.mp3", 550,
                              blue + "-metadata title='Second Wind' -metadata track=2/2", false)));
        const fs::path catalogue =
            makeSong(media->path(), "catalogue.mp3", 660,
                     "-metadata title='Old Tune' -metadata artist='Zed' -metadata album='Archive' "
                     "-metadata genre=Folk -metadata date=1975",
                     true);
        matched = new std::string(readFile(catalogue));
        paths = new std::map<std::string, std::string>{
            {"First Light", (media->path() / "first.mp3").string()},
            {"Second Wind", (media->path() / "second.mp3").string()},
            {"Old Tune", catalogue.string()}};
        const auto imported = server->run({"import", catalogue});
        if (imported.exitCode != 0)
            throw std::runtime_error(imported.output);

        const std::string ann = server->loginOrFail("ann@example.com", "desktop-secret");
        server->upload(ann, "first.mp3", *first);
        server->upload(ann, "second.mp3", *second);
        server->match(ann, md5Hex(*matched));
        const std::string bob = server->loginOrFail("bob@example.com", "bob-desktop");
        server->upload(bob, "bob.mp3",
                       readFile(makeSong(media->path(), "bob.mp3", 770,
                                         "-metadata title='Bob Song' -metadata artist='Bob' "
                                         "-metadata album='Bobs'",
                                         true)));
        annPhone = new PlayerCredentials(addPlayerPassword(*server, "ann@example.com", "phone"));
        bobPhone = new PlayerCredentials(addPlayerPassword(*server, "bob@example.com", "phone"));
    }

    static void TearDownTestSuite() {
        delete server;
        delete media;
        delete first;
        delete second;
        delete matched;
        delete annPhone;
        delete bobPhone;
        delete paths;
    }

    static Reply call(const std::string &method, const std::string &query, const std::string &auth,
                      const std::map<std::string, std::string> &headers = {}) {
        return server->get("/rest/" + method + ".view?" + auth + "&v=1.16.1&c=test" +
                               (query.empty() ? "" : "&" + query),
                           headers);
    }
    static Reply ann(const std::string &method, const std::string &query = {},
                     const std::map<std::string, std::string> &headers = {}) {
        return call(method, query, tokenAuth("ann@example.com", annPhone->password), headers);
    }
    static Reply bob(const std::string &method, const std::string &query = {}) {
        return call(method, query, tokenAuth("bob@example.com", bobPhone->password));
    }
    // The JSON answer's "subsonic-response".
    static Value json(const Reply &r) {
        const auto v = cloud::json::parse(r.body);
        if (!v || !v->find("subsonic-response"))
            throw std::runtime_error("not an API answer: " + r.body);
        return *v->find("subsonic-response");
    }
    static int errorCode(const Reply &r) {
        const Value v = json(r);
        const Value *e = v.find("error");
        return e ? static_cast<int>(integer(*e, "code")) : -1;
    }
    static Value annJson(const std::string &method, const std::string &query = {}) {
        return json(ann(method, "f=json" + (query.empty() ? "" : "&" + query)));
    }
    static int annError(const std::string &method, const std::string &query = {}) {
        return errorCode(ann(method, "f=json" + (query.empty() ? "" : "&" + query)));
    }
    static int bobError(const std::string &method, const std::string &query = {}) {
        return errorCode(bob(method, "f=json" + (query.empty() ? "" : "&" + query)));
    }

    // Ann's songs by title, from a search for everything.
    static std::map<std::string, Value> annSongs() {
        const Value v = annJson("search3", "query=");
        std::map<std::string, Value> out;
        for (const auto &s : at(v, {"searchResult3", "song"}).asArray())
            out[text(s, "title")] = s;
        return out;
    }

    static inline TestServer *server = nullptr;
    static inline TempDir *media = nullptr;
    static inline std::string *first = nullptr;
    static inline std::string *second = nullptr;
    static inline std::string *matched = nullptr;
    static inline PlayerCredentials *annPhone = nullptr;
    static inline PlayerCredentials *bobPhone = nullptr;
    static inline std::map<std::string, std::string> *paths = nullptr; // title → source file
};

} // namespace playerapi
