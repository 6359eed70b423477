#include "S3Store.h"

#include "Crypto.h"
#include "S3Client.h"
#include "S3Incoming.h"
#include "Xml.h"
#include "XmlText.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>

namespace fs = std::filesystem;

namespace cloud::objects {

namespace {

using s3::Reply;
using s3::Request;
using Client = S3Store::Client;

// What a reader holds of a GET before it pauses the transfer, and how far
// ahead a read may skip within an open transfer rather than begin another.
constexpr std::size_t kReadAhead = 1u << 20;
constexpr std::uint64_t kSkipWithin = 256u << 10;

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
            if (available() == 0 && now - lastProgress > std::chrono::seconds(s3::kStallSeconds))
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
    return makeS3Incoming(client_, key, dir);
}

std::optional<std::uint64_t> S3Store::size(const std::string &key) {
    Request r;
    r.method = "HEAD";
    r.key = key;
    const Reply reply = client_->expect(r, {200, 404});
    if (reply.status == 404)
        return std::nullopt;
    return s3::parseSize(reply.header("content-length"));
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

// One DeleteObjects request for up to 1000 keys: quiet, so that the answer
// names only the keys that failed.
std::vector<std::pair<std::string, std::string>>
S3Store::removeMany(const std::vector<std::string> &keys) {
    if (keys.empty())
        return {};
    std::string body = "<Delete><Quiet>true</Quiet>";
    for (const std::string &key : keys)
        body.append("<Object><Key>")
            .append(xmlEscaped(client_->o.prefix + key))
            .append("</Key></Object>");
    body += "</Delete>";
    Request r;
    r.method = "POST";
    r.query = {{"delete", ""}};
    r.body = body;
    r.headers = {"Content-MD5: " + crypto::md5Base64(body)};
    const Reply reply = client_->expect(r, {200});
    const auto doc = xml::parse(reply.body);
    if (!doc || doc->name != "DeleteResult")
        client_->fail(r, reply);
    std::vector<std::pair<std::string, std::string>> failed;
    for (const xml::Node *error : doc->all("Error")) {
        std::string key = error->childText("Key");
        if (key.rfind(client_->o.prefix, 0) == 0)
            key.erase(0, client_->o.prefix.size());
        failed.emplace_back(std::move(key),
                            error->childText("Code") + " " + error->childText("Message"));
    }
    return failed;
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
            entry.size = s3::parseSize(item->childText("Size"));
            entry.modified = s3::parseTime(item->childText("LastModified"));
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
            entry.modified = s3::parseTime(item->childText("Initiated"));
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