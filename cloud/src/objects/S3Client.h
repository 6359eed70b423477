// The requests of the S3 store: built, signed by libcurl (Signature Version
// 4) and sent, over handles whose open connections are kept for the next
// request. Shared by the store, its readers and its incoming objects.
#pragma once

#include "S3Store.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloud::objects {

namespace s3 {

// A request that moves nothing for this long has failed.
constexpr long kStallSeconds = 60;

struct Request {
    std::string method = "GET";
    std::string key; // below the prefix; empty for the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    std::string_view body;
    std::string range;                // "bytes=A-B"
    std::vector<std::string> headers; // more, as "Name: value"
    // A PUT whose body of this many bytes the caller feeds through
    // CURLOPT_READFUNCTION, as it becomes available, in place of `body`.
    std::optional<std::uint64_t> streamedLength;
};

struct Reply {
    long status = 0;
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case
    std::string header(const std::string &name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

std::chrono::system_clock::time_point parseTime(const std::string &text);
std::uint64_t parseSize(const std::string &text);

} // namespace s3

class S3Store::Client {
public:
    explicit Client(S3Options options);
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    CURL *take();
    // Back to the idle handles; only a handle whose transfer ended cleanly.
    void give(CURL *c);

    // Everything of a request but where its answer's body goes. The header
    // list must live until the request is done.
    curl_slist *prepare(CURL *c, const s3::Request &r, s3::Reply &reply) const;
    s3::Reply perform(const s3::Request &r);
    // Throws unless the store answered one of `accepted`.
    s3::Reply expect(const s3::Request &r, std::initializer_list<long> accepted);
    [[noreturn]] void fail(const s3::Request &r, const s3::Reply &reply) const;
    std::string what(const s3::Request &r) const;
    // Credentials never reach an error text, whatever a store puts in its answers.
    std::string scrub(std::string text) const;

    std::string beginMultipart(const std::string &key);
    void complete(const std::string &key, const std::string &uploadId,
                  const std::vector<std::string> &etags);
    void abort(const std::string &key, const std::string &uploadId);

    S3Options o;

private:
    std::mutex mutex_;
    std::vector<CURL *> idle_;
};

} // namespace cloud::objects
