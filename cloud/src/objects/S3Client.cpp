#include "S3Client.h"

#include "Crypto.h"
#include "Http.h"
#include "Xml.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

namespace cloud::objects {

namespace s3 {

std::chrono::system_clock::time_point parseTime(const std::string &text) {
    std::tm tm{};
    int year = 0, month = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &year, &month, &tm.tm_mday, &tm.tm_hour,
                    &tm.tm_min, &tm.tm_sec) != 6)
        return {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    return std::chrono::system_clock::from_time_t(timegm(&tm));
}

std::uint64_t parseSize(const std::string &text) {
    try {
        return std::stoull(text);
    } catch (const std::exception &) {
        return 0;
    }
}

} // namespace s3

namespace {

using s3::Reply;
using s3::Request;

// Answers other than object bytes (listings, errors) are small; a larger one
// is no answer of a store.
constexpr std::size_t kMostReplyBytes = 16u << 20;
constexpr long kConnectTimeoutSeconds = 10;
// Idle handles kept for their open connections.
constexpr std::size_t kIdleHandles = 8;

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t collectHeader(char *data, size_t size, size_t count, void *opaque) {
    auto &reply = *static_cast<Reply *>(opaque);
    const std::string_view line(data, size * count);
    // A new status line (after a 100 Continue) starts the headers again.
    if (line.rfind("HTTP/", 0) == 0) {
        reply.headers.clear();
        return size * count;
    }
    const auto colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string name(line.substr(0, colon));
        for (char &c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front())))
            value.remove_prefix(1);
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.remove_suffix(1);
        reply.headers[name] = std::string(value);
    }
    return size * count;
}

size_t collectBody(char *data, size_t size, size_t count, void *opaque) {
    auto &reply = *static_cast<Reply *>(opaque);
    if (reply.body.size() + size * count > kMostReplyBytes)
        return 0;
    reply.body.append(data, size * count);
    return size * count;
}

} // namespace

S3Store::Client::Client(S3Options options)
    : o(std::move(options)) {
    initCurl();
    while (!o.endpoint.empty() && o.endpoint.back() == '/')
        o.endpoint.pop_back();
    if (!o.prefix.empty() && o.prefix.back() != '/')
        o.prefix += '/';
}

S3Store::Client::~Client() {
    for (CURL *c : idle_)
        curl_easy_cleanup(c);
}

CURL *S3Store::Client::take() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            CURL *c = idle_.back();
            idle_.pop_back();
            return c;
        }
    }
    CURL *c = curl_easy_init();
    if (!c)
        throw ObjectError("cannot make a request to the object store");
    return c;
}

void S3Store::Client::give(CURL *c) {
    curl_easy_reset(c);
    std::lock_guard lock(mutex_);
    if (idle_.size() < kIdleHandles)
        idle_.push_back(c);
    else
        curl_easy_cleanup(c);
}

curl_slist *S3Store::Client::prepare(CURL *c, const Request &r, Reply &reply) const {
    std::string url = o.endpoint + "/" + o.bucket;
    if (!r.key.empty())
        url += "/" + http::percentEncode(o.prefix + r.key, true);
    // Signed as sent: the canonical query is sorted by name.
    auto query = r.query;
    std::sort(query.begin(), query.end());
    for (std::size_t i = 0; i < query.size(); ++i)
        url += (i == 0 ? "?" : "&") + http::percentEncode(query[i].first) + "=" +
               http::percentEncode(query[i].second);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(c, CURLOPT_USERNAME, o.credentials.accessKeyId.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, o.credentials.secretAccessKey.c_str());
    const std::string sigv4 = "aws:amz:" + o.region + ":s3";
    curl_easy_setopt(c, CURLOPT_AWS_SIGV4, sigv4.c_str());

    curl_slist *headers = nullptr;
    if (!r.range.empty())
        headers = curl_slist_append(headers, ("Range: " + r.range).c_str());
    for (const std::string &header : r.headers)
        headers = curl_slist_append(headers, header.c_str());
    if (r.streamedLength) {
        // A body still arriving has no digest to sign; the caller checks the
        // answer's ETag against the bytes it sent instead. CURLOPT_UPLOAD
        // makes it a PUT.
        headers = curl_slist_append(headers, "x-amz-content-sha256: UNSIGNED-PAYLOAD");
        headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(*r.streamedLength));
    } else {
        // The payload's digest is signed by libcurl from the same body; the
        // store wants it named in a header too.
        headers = curl_slist_append(headers,
                                    ("x-amz-content-sha256: " + crypto::sha256Hex(r.body)).c_str());
        if (r.method == "HEAD") {
            curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        } else if (r.method == "PUT" || r.method == "POST") {
            headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(r.body.size()));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, r.body.data());
            curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.method.c_str());
        } else if (r.method != "GET") {
            curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.method.c_str());
        }
    }
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &collectHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &reply);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &collectBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
    return headers;
}

Reply S3Store::Client::perform(const Request &r) {
    Reply reply;
    CURL *c = take();
    curl_slist *headers = prepare(c, r, reply);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, s3::kStallSeconds);
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    const CURLcode code = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_slist_free_all(headers);
    give(c);
    if (code != CURLE_OK)
        throw ObjectError(scrub("cannot reach the object store at " + o.endpoint + " (" + r.method +
                                " " + what(r) +
                                "): " + (error[0] ? error : curl_easy_strerror(code))));
    return reply;
}

Reply S3Store::Client::expect(const Request &r, std::initializer_list<long> accepted) {
    Reply reply = perform(r);
    if (std::find(accepted.begin(), accepted.end(), reply.status) == accepted.end())
        fail(r, reply);
    return reply;
}

void S3Store::Client::fail(const Request &r, const Reply &reply) const {
    std::string text = "the object store answered " + std::to_string(reply.status) + " to " +
                       r.method + " " + what(r);
    if (const auto doc = xml::parse(reply.body); doc && doc->name == "Error")
        text += ": " + doc->childText("Code") + " " + doc->childText("Message");
    throw ObjectError(scrub(text));
}

std::string S3Store::Client::what(const Request &r) const {
    return r.key.empty() ? "the bucket " + o.bucket : o.bucket + "/" + o.prefix + r.key;
}

std::string S3Store::Client::scrub(std::string text) const {
    for (const std::string *secret : {&o.credentials.accessKeyId, &o.credentials.secretAccessKey}) {
        if (secret->size() < 4)
            continue;
        for (auto at = text.find(*secret); at != std::string::npos; at = text.find(*secret, at))
            text.replace(at, secret->size(), "[credentials]");
    }
    return text;
}

std::string S3Store::Client::beginMultipart(const std::string &key) {
    Request r;
    r.method = "POST";
    r.key = key;
    r.query = {{"uploads", ""}};
    const Reply reply = expect(r, {200});
    const auto doc = xml::parse(reply.body);
    const std::string id = doc ? doc->childText("UploadId") : std::string();
    if (id.empty())
        throw ObjectError("the object store began an upload of " + what(r) + " without naming it");
    return id;
}

void S3Store::Client::complete(const std::string &key, const std::string &uploadId,
                               const std::vector<std::string> &etags) {
    std::string body = "<CompleteMultipartUpload>";
    for (std::size_t i = 0; i < etags.size(); ++i)
        body.append("<Part><PartNumber>")
            .append(std::to_string(i + 1))
            .append("</PartNumber><ETag>")
            .append(etags[i])
            .append("</ETag></Part>");
    body += "</CompleteMultipartUpload>";
    Request r;
    r.method = "POST";
    r.key = key;
    r.query = {{"uploadId", uploadId}};
    r.body = body;
    const Reply reply = expect(r, {200});
    // A failure may come late, as an error document in a 200 answer.
    const auto doc = xml::parse(reply.body);
    if (!doc || doc->name == "Error")
        fail(r, reply);
}

void S3Store::Client::abort(const std::string &key, const std::string &uploadId) {
    Request r;
    r.method = "DELETE";
    r.key = key;
    r.query = {{"uploadId", uploadId}};
    expect(r, {204, 200, 404});
}

} // namespace cloud::objects
