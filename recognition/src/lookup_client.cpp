#include "lookup_client.h"

#include <curl/curl.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>

namespace recog {

namespace {

// Answers are a few kilobytes; anything far larger is not a lookup service.
constexpr size_t kMaxAnswerBytes = 4 * 1024 * 1024;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Collected {
    std::string body;
    double serviceMs = -1;
};

size_t onBody(char *data, size_t size, size_t count, void *user) {
    auto *c = static_cast<Collected *>(user);
    const size_t n = size * count;
    if (c->body.size() + n > kMaxAnswerBytes)
        return 0; // ends the transfer with an error
    c->body.append(data, n);
    return n;
}

// "Server-Timing: lookup;dur=1.25": what the service spent, so that the
// network's share can be told apart.
size_t onHeader(char *data, size_t size, size_t count, void *user) {
    auto *c = static_cast<Collected *>(user);
    const std::string line(data, size * count);
    const std::string key = "server-timing:";
    if (line.size() > key.size()) {
        std::string head = line.substr(0, key.size());
        for (char &ch : head)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        const auto dur = line.find("dur=");
        if (head == key && dur != std::string::npos)
            c->serviceMs = std::strtod(line.c_str() + dur + 4, nullptr);
    }
    return size * count;
}

} // namespace

struct LookupClient::Impl {
    CURL *curl = nullptr;
    curl_slist *headers = nullptr;
    ~Impl() {
        curl_slist_free_all(headers);
        if (curl)
            curl_easy_cleanup(curl);
    }
};

LookupClient::LookupClient(LookupEndpoint endpoint)
    : impl_(std::make_unique<Impl>())
    , endpoint_(std::move(endpoint)) {
    initCurlOnce();
    impl_->curl = curl_easy_init();
    const auto add = [this](const std::string &h) {
        impl_->headers = curl_slist_append(impl_->headers, h.c_str());
    };
    add("Content-Type: application/json");
    add("X-Client-Id: " + endpoint_.clientId);
    add("X-Client-Tag: " + endpoint_.clientTag);
    add("Expect:");
}

LookupClient::~LookupClient() = default;

bool LookupClient::ask(const LookupRequest &request, LookupAnswer &answer, LookupFailure &failure) {
    CURL *curl = impl_->curl;
    if (!curl || !impl_->headers) {
        failure = {SDKMGRERR_NoMemory, "cannot set up a lookup"};
        return false;
    }
    const std::string body = encodeRequest(request);
    Collected got;
    curl_easy_setopt(curl, CURLOPT_URL, endpoint_.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, endpoint_.timeoutMs);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!endpoint_.caFile.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, endpoint_.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, impl_->headers);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &got);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &got);

    const auto start = std::chrono::steady_clock::now();
    const CURLcode rc = curl_easy_perform(curl);
    totalSeconds_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (got.serviceMs >= 0)
        serviceSeconds_ += got.serviceMs / 1000.0;
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        failure = {SDKMGRERR_Timeout, "the lookup service " + endpoint_.url +
                                          " did not answer within " +
                                          std::to_string(endpoint_.timeoutMs) + " ms"};
        return false;
    }
    if (rc != CURLE_OK) {
        failure = {SDKMGRERR_IOError,
                   "the lookup service " + endpoint_.url + " failed: " + curl_easy_strerror(rc)};
        return false;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        std::string reason = got.body.substr(0, 200);
        for (char &c : reason)
            if (static_cast<unsigned char>(c) < ' ')
                c = ' ';
        failure = {SDKMGRERR_IOError, "the lookup service " + endpoint_.url + " answered " +
                                          std::to_string(status) +
                                          (reason.empty() ? "" : ": " + reason)};
        return false;
    }
    std::string error;
    if (!decodeAnswer(got.body, answer, error)) {
        failure = {SDKMGRERR_InvalidFormat, "the lookup service " + endpoint_.url + ": " + error};
        return false;
    }
    return true;
}

} // namespace recog
