#include "S3Store.h"

#include "Crypto.h"
#include "FolderStore.h"
#include "Http.h"
#include "Xml.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace cloud::objects {

namespace {

// Answers other than object bytes (listings, errors) are small; a larger one
// is no answer of a store.
constexpr std::size_t kMostReplyBytes = 16u << 20;
constexpr long kConnectTimeoutSeconds = 10;
// A request that moves nothing for this long has failed.
constexpr long kStallSeconds = 60;
// What a reader holds of a GET before it pauses the transfer, and how far
// ahead a read may skip within an open transfer rather than begin another.
constexpr std::size_t kReadAhead = 1u << 20;
constexpr std::uint64_t kSkipWithin = 256u << 10;
// Idle handles kept for their open connections.
constexpr std::size_t kIdleHandles = 8;

void initCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

struct Request {
    std::string method = "GET";
    std::string key; // below the prefix; empty for the bucket itself
    std::vector<std::pair<std::string, std::string>> query;
    std::string_view body;
    std::string range; // "bytes=A-B"
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

// Builds, signs and sends requests; hands out curl handles, whose open
// connections are kept for the next request.
class S3Store::Client {
public:
    explicit Client(S3Options options)
        : o(std::move(options)) {
        initCurl();
        while (!o.endpoint.empty() && o.endpoint.back() == '/')
            o.endpoint.pop_back();
        if (!o.prefix.empty() && o.prefix.back() != '/')
            o.prefix += '/';
    }

    ~Client() {
        for (CURL *c : idle_)
            curl_easy_cleanup(c);
    }

    CURL *take() {
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

    void give(CURL *c) {
        curl_easy_reset(c);
        std::lock_guard lock(mutex_);
        if (idle_.size() < kIdleHandles)
            idle_.push_back(c);
        else
            curl_easy_cleanup(c);
    }

    // Everything of a request but where its answer's body goes. The header
    // list must live until the request is done.
    curl_slist *prepare(CURL *c, const Request &r, Reply &reply) const {
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

        // The payload's digest is signed by libcurl from the same body; the
        // store wants it named in a header too.
        curl_slist *headers = nullptr;
        headers = curl_slist_append(headers,
                                    ("x-amz-content-sha256: " + crypto::sha256Hex(r.body)).c_str());
        if (!r.range.empty())
            headers = curl_slist_append(headers, ("Range: " + r.range).c_str());
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
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &collectHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &reply);
        return headers;
    }

    Reply perform(const Request &r) {
        Reply reply;
        CURL *c = take();
        curl_slist *headers = prepare(c, r, reply);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &collectBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        char error[CURL_ERROR_SIZE] = "";
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
        const CURLcode code = curl_easy_perform(c);
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
        curl_slist_free_all(headers);
        give(c);
        if (code != CURLE_OK)
            throw ObjectError(scrub("cannot reach the object store at " + o.endpoint + " (" +
                                    r.method + " " + what(r) +
                                    "): " + (error[0] ? error : curl_easy_strerror(code))));
        return reply;
    }

    // Throws unless the store answered one of `accepted`.
    Reply expect(const Request &r, std::initializer_list<long> accepted) {
        Reply reply = perform(r);
        if (std::find(accepted.begin(), accepted.end(), reply.status) == accepted.end())
            fail(r, reply);
        return reply;
    }

    [[noreturn]] void fail(const Request &r, const Reply &reply) const {
        std::string text = "the object store answered " + std::to_string(reply.status) + " to " +
                           r.method + " " + what(r);
        if (const auto doc = xml::parse(reply.body); doc && doc->name == "Error")
            text += ": " + doc->childText("Code") + " " + doc->childText("Message");
        throw ObjectError(scrub(text));
    }

    std::string what(const Request &r) const {
        return r.key.empty() ? "the bucket " + o.bucket : o.bucket + "/" + o.prefix + r.key;
    }

    // Credentials never reach an error text, whatever a store puts in its answers.
    std::string scrub(std::string text) const {
        for (const std::string *secret :
             {&o.credentials.accessKeyId, &o.credentials.secretAccessKey}) {
            if (secret->size() < 4)
                continue;
            for (auto at = text.find(*secret); at != std::string::npos; at = text.find(*secret, at))
                text.replace(at, secret->size(), "[credentials]");
        }
        return text;
    }

    std::string beginMultipart(const std::string &key) {
        Request r;
        r.method = "POST";
        r.key = key;
        r.query = {{"uploads", ""}};
        const Reply reply = expect(r, {200});
        const auto doc = xml::parse(reply.body);
        const std::string id = doc ? doc->childText("UploadId") : std::string();
        if (id.empty())
            throw ObjectError("the object store began an upload of " + what(r) +
                              " without naming it");
        return id;
    }

    std::string uploadPart(const std::string &key, const std::string &uploadId, int number,
                           std::string_view bytes) {
        Request r;
        r.method = "PUT";
        r.key = key;
        r.query = {{"partNumber", std::to_string(number)}, {"uploadId", uploadId}};
        r.body = bytes;
        const Reply reply = expect(r, {200});
        const std::string etag = reply.header("etag");
        if (etag.empty())
            throw ObjectError("the object store took a part of " + what(r) + " without its ETag");
        return etag;
    }

    void complete(const std::string &key, const std::string &uploadId,
                  const std::vector<std::string> &etags) {
        std::string body = "<CompleteMultipartUpload>";
        for (std::size_t i = 0; i < etags.size(); ++i)
            body += "<Part><PartNumber>" + std::to_string(i + 1) + "</PartNumber><ETag>" +
                    etags[i] + "</ETag></Part>";
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

    void abort(const std::string &key, const std::string &uploadId) {
        Request r;
        r.method = "DELETE";
        r.key = key;
        r.query = {{"uploadId", uploadId}};
        expect(r, {204, 200, 404});
    }

    S3Options o;

private:
    std::mutex mutex_;
    std::vector<CURL *> idle_;
};

namespace {

using Client = S3Store::Client;

// Reads an object through ranged GETs, driven from the reading thread: the
// transfer runs only while read() waits for bytes, and pauses once a read
// ahead is held, so a slow reader holds a connection but no thread.
class S3Reader : public ObjectReader {
public:
    S3Reader(std::shared_ptr<Client> client, std::string key, std::uint64_t size)
        : client_(std::move(client))
        , key_(std::move(key))
        , size_(size)
        , multi_(curl_multi_init()) {
        if (!multi_)
            throw ObjectError("cannot read from the object store");
    }

    ~S3Reader() override {
        stop();
        curl_multi_cleanup(multi_);
    }

    std::uint64_t size() const override { return size_; }

    void willRead(std::uint64_t first, std::uint64_t last) override {
        windowFirst_ = first;
        windowEnd_ = std::min(last + 1, size_);
    }

    long read(std::uint64_t offset, char *out, std::size_t max) override {
        if (offset >= size_ || max == 0)
            return 0;
        // A store may close a connection paused for long: once more from here.
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!easy_ || offset < position_ || offset >= rangeEnd_ ||
                offset > position_ + available() + kSkipWithin)
                start(offset);
            while (position_ < offset && fill()) {
                const auto skip = std::min<std::uint64_t>(offset - position_, available());
                consume(static_cast<std::size_t>(skip));
            }
            if (position_ == offset && fill()) {
                const std::size_t n = std::min(max, available());
                std::copy_n(buffer_.data() + bufferAt_, n, out);
                consume(n);
                return static_cast<long>(n);
            }
            stop();
        }
        return -1;
    }

private:
    std::size_t available() const { return buffer_.size() - bufferAt_; }

    void consume(std::size_t n) {
        bufferAt_ += n;
        position_ += n;
        if (bufferAt_ == buffer_.size()) {
            buffer_.clear();
            bufferAt_ = 0;
        } else if (bufferAt_ > kReadAhead) {
            buffer_.erase(0, bufferAt_);
            bufferAt_ = 0;
        }
    }

    void start(std::uint64_t offset) {
        stop();
        // Within the range the caller announced, that range's end; past it, the object's.
        rangeEnd_ = offset >= windowFirst_ && offset < windowEnd_ ? windowEnd_ : size_;
        Request r;
        r.key = key_;
        r.range = "bytes=" + std::to_string(offset) + "-" + std::to_string(rangeEnd_ - 1);
        easy_ = client_->take();
        headers_ = client_->prepare(easy_, r, reply_);
        curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &S3Reader::onData);
        curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        curl_multi_add_handle(multi_, easy_);
        position_ = offset;
        done_ = paused_ = refused_ = false;
        checked_ = false;
    }

    void stop() {
        if (!easy_)
            return;
        curl_multi_remove_handle(multi_, easy_);
        // A transfer cut short leaves its connection unusable: not kept.
        if (done_ && !refused_ && position_ + available() == rangeEnd_)
            client_->give(easy_);
        else
            curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
        easy_ = nullptr;
        headers_ = nullptr;
        buffer_.clear();
        bufferAt_ = 0;
        reply_ = Reply{};
    }

    // Waits for bytes; false when the transfer ended without more.
    bool fill() {
        auto lastProgress = std::chrono::steady_clock::now();
        while (available() == 0) {
            if (done_ || refused_)
                return false;
            if (paused_) {
                paused_ = false;
                curl_easy_pause(easy_, CURLPAUSE_CONT);
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg *m = curl_multi_info_read(multi_, &left)) {
                if (m->msg == CURLMSG_DONE)
                    done_ = true;
            }
            if (available() > 0)
                break;
            if (!done_ && !paused_)
                curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
            const auto now = std::chrono::steady_clock::now();
            if (available() == 0 && now - lastProgress > std::chrono::seconds(kStallSeconds))
                return false;
        }
        return true;
    }

    static size_t onData(char *data, size_t size, size_t count, void *opaque) {
        auto &self = *static_cast<S3Reader *>(opaque);
        if (!self.checked_) {
            // Bytes of a refusal, or of another range than asked, are no object bytes.
            self.checked_ = true;
            long status = 0;
            curl_easy_getinfo(self.easy_, CURLINFO_RESPONSE_CODE, &status);
            const bool whole = self.position_ == 0 && self.rangeEnd_ == self.size_;
            if (status != 206 && !(status == 200 && whole)) {
                self.refused_ = true;
                return 0;
            }
        }
        if (self.available() >= kReadAhead) {
            self.paused_ = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        self.buffer_.append(data, size * count);
        return size * count;
    }

    std::shared_ptr<Client> client_;
    std::string key_;
    std::uint64_t size_;
    CURLM *multi_;
    CURL *easy_ = nullptr;
    curl_slist *headers_ = nullptr;
    Reply reply_;
    std::uint64_t windowFirst_ = 0;
    std::uint64_t windowEnd_ = 0;
    std::uint64_t rangeEnd_ = 0; // of the transfer under way
    std::uint64_t position_ = 0; // of the first byte held
    std::string buffer_;
    std::size_t bufferAt_ = 0;
    bool done_ = false;
    bool paused_ = false;
    bool checked_ = false;
    bool refused_ = false;
};

// A local file nobody can name: gone with its descriptor, also after a crash.
int makeSpool(const fs::path &dir) {
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    std::string name = (dir / "spool-XXXXXX").string();
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0)
        ::unlink(name.c_str());
    if (fd < 0)
        throw ObjectError(std::error_code(errno, std::generic_category()).message() +
                          ": cannot make a local copy in " + dir.string());
    return fd;
}

bool readFully(int fd, std::uint64_t offset, std::string &out, std::size_t size) {
    out.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n =
            ::pread(fd, out.data() + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

class S3Incoming : public IncomingObject {
public:
    S3Incoming(std::shared_ptr<Client> client, std::string key, int spool)
        : client_(std::move(client))
        , key_(std::move(key))
        , spool_(spool) {}
    S3Incoming(const S3Incoming &) = delete;
    S3Incoming &operator=(const S3Incoming &) = delete;

    ~S3Incoming() override {
        if (!committed_ && !uploadId_.empty()) {
            try {
                client_->abort(key_, uploadId_);
            } catch (const std::exception &e) {
                // The clean-up finds it later.
                std::fprintf(stderr, "cannot abandon an upload: %s\n", e.what());
            }
        }
        ::close(spool_);
    }

    bool write(const char *data, std::size_t size) override {
        if (failed_)
            return false;
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(spool_, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
            size_ += static_cast<std::uint64_t>(n);
        }
        try {
            while (size_ - uploaded_ >= client_->o.partBytes)
                uploadPart(client_->o.partBytes);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "cannot store an upload: %s\n", e.what());
            failed_ = true;
        }
        return !failed_;
    }

    std::uint64_t size() const override { return size_; }

    std::unique_ptr<ObjectReader> readBack() override {
        const int fd = ::dup(spool_);
        return fd < 0 ? nullptr : std::make_unique<FileReader>(fd, size_);
    }

    std::string commit() override {
        if (failed_)
            throw ObjectError("an upload whose parts could not be stored cannot be committed");
        if (uploadId_.empty()) {
            std::string bytes;
            if (!readFully(spool_, 0, bytes, static_cast<std::size_t>(size_)))
                throw ObjectError("cannot read the local copy of an upload");
            Request r;
            r.method = "PUT";
            r.key = key_;
            r.body = bytes;
            client_->expect(r, {200});
        } else {
            if (size_ > uploaded_)
                uploadPart(static_cast<std::size_t>(size_ - uploaded_));
            client_->complete(key_, uploadId_, etags_);
        }
        committed_ = true;
        return key_;
    }

private:
    void uploadPart(std::size_t bytes) {
        std::string part;
        if (!readFully(spool_, uploaded_, part, bytes))
            throw ObjectError("cannot read the local copy of an upload");
        if (uploadId_.empty())
            uploadId_ = client_->beginMultipart(key_);
        etags_.push_back(
            client_->uploadPart(key_, uploadId_, static_cast<int>(etags_.size()) + 1, part));
        uploaded_ += bytes;
    }

    std::shared_ptr<Client> client_;
    std::string key_;
    int spool_;
    std::uint64_t size_ = 0;
    std::uint64_t uploaded_ = 0; // bytes in finished parts
    std::string uploadId_;
    std::vector<std::string> etags_;
    bool committed_ = false;
    bool failed_ = false;
};

} // namespace

S3Store::S3Store(S3Options options)
    : client_(std::make_shared<Client>(std::move(options))) {
    if (!client_->o.spoolDir.empty())
        fs::create_directories(client_->o.spoolDir);
}

S3Store::~S3Store() = default;

std::unique_ptr<IncomingObject> S3Store::createAt(const std::string &key) {
    if (key.empty())
        throw ObjectError("an object needs a key");
    const fs::path dir =
        client_->o.spoolDir.empty() ? fs::temp_directory_path() : client_->o.spoolDir;
    return std::make_unique<S3Incoming>(client_, key, makeSpool(dir));
}

std::optional<std::uint64_t> S3Store::size(const std::string &key) {
    Request r;
    r.method = "HEAD";
    r.key = key;
    const Reply reply = client_->expect(r, {200, 404});
    if (reply.status == 404)
        return std::nullopt;
    return parseSize(reply.header("content-length"));
}

std::unique_ptr<ObjectReader> S3Store::open(const std::string &key) {
    const auto found = size(key);
    return found ? std::make_unique<S3Reader>(client_, key, *found) : nullptr;
}

void S3Store::remove(const std::string &key) {
    Request r;
    r.method = "DELETE";
    r.key = key;
    client_->expect(r, {204, 200, 404});
}

void S3Store::list(const std::function<void(const ObjectEntry &)> &each) {
    const auto &o = client_->o;
    const auto withoutPrefix = [&o](const std::string &key) { return key.substr(o.prefix.size()); };
    std::string token;
    do {
        Request r;
        r.query = {
            {"list-type", "2"}, {"max-keys", std::to_string(o.pageSize)}, {"prefix", o.prefix}};
        if (!token.empty())
            r.query.emplace_back("continuation-token", token);
        const Reply reply = client_->expect(r, {200});
        const auto doc = xml::parse(reply.body);
        if (!doc)
            client_->fail(r, reply);
        for (const xml::Node *item : doc->all("Contents")) {
            const std::string key = item->childText("Key");
            if (key.rfind(o.prefix, 0) != 0 || key.size() == o.prefix.size())
                continue;
            ObjectEntry entry;
            entry.key = withoutPrefix(key);
            entry.size = parseSize(item->childText("Size"));
            entry.modified = parseTime(item->childText("LastModified"));
            each(entry);
        }
        token = doc->childText("IsTruncated") == "true" ? doc->childText("NextContinuationToken")
                                                        : std::string();
    } while (!token.empty());

    std::string keyMarker, uploadMarker;
    for (;;) {
        Request r;
        r.query = {
            {"uploads", ""}, {"max-uploads", std::to_string(o.pageSize)}, {"prefix", o.prefix}};
        if (!keyMarker.empty())
            r.query.emplace_back("key-marker", keyMarker);
        if (!uploadMarker.empty())
            r.query.emplace_back("upload-id-marker", uploadMarker);
        const Reply reply = client_->expect(r, {200});
        const auto doc = xml::parse(reply.body);
        if (!doc)
            client_->fail(r, reply);
        for (const xml::Node *item : doc->all("Upload")) {
            const std::string key = item->childText("Key");
            if (key.rfind(o.prefix, 0) != 0)
                continue;
            ObjectEntry entry;
            entry.key = withoutPrefix(key);
            entry.uploadId = item->childText("UploadId");
            entry.modified = parseTime(item->childText("Initiated"));
            entry.unfinished = true;
            each(entry);
        }
        if (doc->childText("IsTruncated") != "true")
            break;
        keyMarker = doc->childText("NextKeyMarker");
        uploadMarker = doc->childText("NextUploadIdMarker");
        if (keyMarker.empty() && uploadMarker.empty())
            break;
    }
}

void S3Store::abandon(const ObjectEntry &unfinished) {
    if (!unfinished.uploadId.empty())
        client_->abort(unfinished.key, unfinished.uploadId);
}

void S3Store::checkReady() {
    // The smallest listing: the store answers, the credentials hold, and the
    // bucket is there, with the permission the clean-up needs too.
    Request r;
    r.query = {{"list-type", "2"}, {"max-keys", "1"}, {"prefix", client_->o.prefix}};
    client_->expect(r, {200});
}

std::string S3Store::describe() const {
    return "the bucket " + client_->o.bucket + " at " + client_->o.endpoint;
}

void S3Store::createBucket() {
    Request r;
    r.method = "PUT";
    client_->expect(r, {200});
}

void S3Store::deleteBucket() {
    Request r;
    r.method = "DELETE";
    client_->expect(r, {204, 200, 404});
}

std::string S3Store::beginMultipartUpload(const std::string &key) {
    return client_->beginMultipart(key);
}

} // namespace cloud::objects
