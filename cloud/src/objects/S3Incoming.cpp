#include "S3Incoming.h"

#include "Crypto.h"
#include "FolderStore.h"
#include "S3Client.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace cloud::objects {

namespace {

using s3::Reply;
using s3::Request;
using Client = S3Store::Client;

// What libcurl asks of the local copy at a time.
constexpr long kSendBufferBytes = 512 * 1024;

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

// The ETag of a plain PUT, and of a part, is the MD5 of its bytes wherever
// the store does not encrypt them: a check that the bytes sent unsigned
// arrived as sent. An ETag of another form is not checked.
bool etagMatches(std::string etag, const std::string &md5) {
    if (etag.size() >= 2 && etag.front() == '"' && etag.back() == '"')
        etag = etag.substr(1, etag.size() - 2);
    const bool plainMd5 = etag.size() == 32 && std::all_of(etag.begin(), etag.end(), [](char c) {
                              return std::isxdigit(static_cast<unsigned char>(c));
                          });
    if (!plainMd5)
        return true;
    std::transform(etag.begin(), etag.end(), etag.begin(),
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    return etag == md5;
}

// One PUT whose body is read from a stretch of the local copy as the copy
// grows. It is driven by the writing thread: each write sends what the
// connection takes without waiting, and finish() waits for the rest and the
// answer. With its last byte held back, the store cannot take the body as
// whole before the object has been found good; a PUT cut off before its end
// leaves nothing in the store.
class SpoolPut {
public:
    // Without `hashSent` the caller gives the bytes' MD5 to finish() instead.
    SpoolPut(Client &client, Request r, int spool, std::uint64_t offset, std::uint64_t length,
             bool holdLast, bool hashSent)
        : client_(client)
        , request_(std::move(r))
        , spool_(spool)
        , offset_(offset)
        , length_(length)
        , hold_(holdLast && length > 0)
        , multi_(curl_multi_init()) {
        if (hashSent)
            md5_.emplace();
        if (!multi_)
            throw ObjectError("cannot write to the object store");
        request_.method = "PUT";
        request_.streamedLength = length;
        easy_ = client_.take();
        headers_ = client_.prepare(easy_, request_, reply_);
        curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &SpoolPut::onRead);
        curl_easy_setopt(easy_, CURLOPT_READDATA, this);
        curl_easy_setopt(easy_, CURLOPT_UPLOAD_BUFFERSIZE, kSendBufferBytes);
        curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, error_);
        curl_multi_add_handle(multi_, easy_);
    }
    SpoolPut(const SpoolPut &) = delete;
    SpoolPut &operator=(const SpoolPut &) = delete;

    ~SpoolPut() {
        if (easy_) {
            curl_multi_remove_handle(multi_, easy_);
            curl_easy_cleanup(easy_); // cut off mid-body: its connection is not kept
        }
        curl_slist_free_all(headers_);
        curl_multi_cleanup(multi_);
    }

    // The transfer is over, well or not: finish() answers at once.
    bool ended() const { return done_; }

    // Sends what it may of the copy's first `written` bytes, without waiting.
    void advance(std::uint64_t written) {
        written_ = written;
        pump();
    }

    // Lets the last byte go: the object is to be stored.
    void release() { hold_ = false; }

    // Sends the rest of the copy's first `written` bytes, waits for the
    // answer and returns the ETag; throws when the store did not take it all,
    // or took other bytes than those whose MD5 was hashed or given.
    std::string finish(std::uint64_t written, const std::string &givenMd5 = {}) {
        written_ = written;
        auto lastProgress = std::chrono::steady_clock::now();
        std::uint64_t lastSent = sent_;
        while (!done_) {
            pump();
            if (done_)
                break;
            if (paused_ && allowed() == sent_)
                throw ObjectError("an upload to " + client_.what(request_) +
                                  " ended before the bytes it was sending");
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
            const auto now = std::chrono::steady_clock::now();
            if (sent_ != lastSent) {
                lastSent = sent_;
                lastProgress = now;
            } else if (now - lastProgress > std::chrono::seconds(s3::kStallSeconds)) {
                throw ObjectError("the object store stopped taking " + client_.what(request_));
            }
        }
        if (result_ != CURLE_OK)
            throw ObjectError(
                client_.scrub("cannot reach the object store at " + client_.o.endpoint + " (PUT " +
                              client_.what(request_) +
                              "): " + (error_[0] ? error_ : curl_easy_strerror(result_))));
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &reply_.status);
        if (reply_.status != 200)
            client_.fail(request_, reply_);
        const std::string etag = reply_.header("etag");
        if (etag.empty())
            throw ObjectError("the object store took " + client_.what(request_) +
                              " without its ETag");
        if (!etagMatches(etag, md5_ ? md5_->finalHex() : givenMd5))
            throw ObjectError("the object store's digest of " + client_.what(request_) +
                              " is not that of the bytes sent");
        curl_multi_remove_handle(multi_, easy_);
        client_.give(easy_);
        easy_ = nullptr;
        return etag;
    }

private:
    // How far into the stretch the body may go now.
    std::uint64_t allowed() const {
        const std::uint64_t have = written_ > offset_ ? std::min(written_ - offset_, length_) : 0;
        return hold_ && have == length_ ? length_ - 1 : have;
    }

    void pump() {
        if (done_)
            return;
        if (paused_ && allowed() > sent_) {
            paused_ = false;
            curl_easy_pause(easy_, CURLPAUSE_CONT);
        }
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg *m = curl_multi_info_read(multi_, &left)) {
            if (m->msg == CURLMSG_DONE) {
                done_ = true;
                result_ = m->data.result;
            }
        }
    }

    static size_t onRead(char *buffer, size_t size, size_t count, void *opaque) {
        auto &self = *static_cast<SpoolPut *>(opaque);
        const std::uint64_t room = self.allowed() - self.sent_;
        if (room == 0) {
            if (self.sent_ == self.length_)
                return 0;
            self.paused_ = true;
            return CURL_READFUNC_PAUSE;
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size * count, room));
        ssize_t n = 0;
        do {
            n = ::pread(self.spool_, buffer, want, static_cast<off_t>(self.offset_ + self.sent_));
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return CURL_READFUNC_ABORT;
        if (self.md5_)
            self.md5_->update(buffer, static_cast<std::size_t>(n));
        self.sent_ += static_cast<std::uint64_t>(n);
        return static_cast<size_t>(n);
    }

    Client &client_;
    Request request_;
    int spool_;
    std::uint64_t offset_;
    std::uint64_t length_;
    bool hold_;
    CURLM *multi_;
    CURL *easy_ = nullptr;
    curl_slist *headers_ = nullptr;
    Reply reply_;
    char error_[CURL_ERROR_SIZE] = "";
    std::optional<crypto::Md5> md5_; // of the bytes sent
    std::uint64_t written_ = 0;
    std::uint64_t sent_ = 0;
    bool paused_ = false;
    bool done_ = false;
    CURLcode result_ = CURLE_OK;
};

// An object of an announced size that fits one PUT is sent as one PUT while
// it arrives, its last byte held back until the commit. Any other goes in
// parts: each part is sent once its bytes are in, while the next arrive,
// and the rest at the commit.
class S3Incoming : public IncomingObject {
public:
    S3Incoming(std::shared_ptr<Client> client, std::string key, int spool)
        : client_(std::move(client))
        , key_(std::move(key))
        , spool_(spool) {}
    S3Incoming(const S3Incoming &) = delete;
    S3Incoming &operator=(const S3Incoming &) = delete;

    ~S3Incoming() override {
        whole_.reset();
        part_.reset();
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

    void expectSize(std::uint64_t bytes) override {
        if (size_ == 0 && bytes > 0 && bytes <= client_->o.singlePutBytes)
            expected_ = bytes;
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
            sendOn();
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

    std::string commitObject(const std::string &md5Hex) override {
        if (failed_)
            throw ObjectError("an upload whose parts could not be stored cannot be committed");
        if (whole_ && size_ == *expected_) {
            whole_->release();
            try {
                whole_->finish(size_, md5Hex.empty() ? md5OfCopy() : md5Hex);
                committed_ = true;
                return key_;
            } catch (const ObjectError &e) {
                // A store that closed a connection paused for long, say.
                std::fprintf(stderr, "sending an upload again: %s\n", e.what());
            }
        }
        whole_.reset();
        if (uploadId_.empty()) {
            SpoolPut(*client_, objectRequest(), spool_, 0, size_, false, true).finish(size_);
        } else {
            if (part_)
                finishPart();
            while (uploaded_ < size_) {
                const auto bytes = std::min<std::uint64_t>(client_->o.partBytes, size_ - uploaded_);
                part_ = startPart(bytes);
                finishPart();
            }
            client_->complete(key_, uploadId_, etags_);
        }
        committed_ = true;
        return key_;
    }

private:
    Request objectRequest() const {
        Request r;
        r.key = key_;
        return r;
    }

    void sendOn() {
        if (expected_ && size_ > *expected_) {
            // More than announced: the held PUT is cut off, the object goes in parts.
            whole_.reset();
            expected_.reset();
        }
        if (expected_) {
            if (!whole_)
                whole_ = std::make_unique<SpoolPut>(*client_, objectRequest(), spool_, 0,
                                                    *expected_, true, false);
            whole_->advance(size_);
            return;
        }
        const std::uint64_t partBytes = client_->o.partBytes;
        for (;;) {
            if (!part_) {
                if (size_ - uploaded_ < partBytes)
                    return;
                if (uploadId_.empty())
                    uploadId_ = client_->beginMultipart(key_);
                part_ = startPart(partBytes);
            }
            part_->advance(size_);
            if (!part_->ended())
                return;
            finishPart();
        }
    }

    // For a writer that did not hash what it wrote.
    std::string md5OfCopy() const {
        crypto::Md5 md5;
        std::string buffer(1u << 20, '\0');
        for (std::uint64_t at = 0; at < size_;) {
            const ssize_t n = ::pread(spool_, buffer.data(), buffer.size(), static_cast<off_t>(at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw ObjectError("cannot read the local copy of an upload");
            md5.update(buffer.data(), static_cast<std::size_t>(n));
            at += static_cast<std::uint64_t>(n);
        }
        return md5.finalHex();
    }

    std::unique_ptr<SpoolPut> startPart(std::uint64_t bytes) {
        partBytes_ = bytes;
        Request r = objectRequest();
        r.query = {{"partNumber", std::to_string(etags_.size() + 1)}, {"uploadId", uploadId_}};
        return std::make_unique<SpoolPut>(*client_, std::move(r), spool_, uploaded_, bytes, false,
                                          true);
    }

    // A part is sent once more, whole, before the upload counts as failed.
    void finishPart() {
        try {
            etags_.push_back(part_->finish(size_));
        } catch (const ObjectError &e) {
            std::fprintf(stderr, "sending a part again: %s\n", e.what());
            part_ = startPart(partBytes_);
            etags_.push_back(part_->finish(size_));
        }
        uploaded_ += partBytes_;
        part_.reset();
    }

    std::shared_ptr<Client> client_;
    std::string key_;
    int spool_;
    std::uint64_t size_ = 0;
    std::optional<std::uint64_t> expected_;
    std::unique_ptr<SpoolPut> whole_;
    std::unique_ptr<SpoolPut> part_;
    std::uint64_t partBytes_ = 0; // of the part under way
    std::uint64_t uploaded_ = 0;  // bytes in finished parts
    std::string uploadId_;
    std::vector<std::string> etags_;
    bool committed_ = false;
    bool failed_ = false;
};

} // namespace

std::unique_ptr<IncomingObject> makeS3Incoming(std::shared_ptr<Client> client, std::string key,
                                               const fs::path &dir) {
    return std::make_unique<S3Incoming>(std::move(client), std::move(key), makeSpool(dir));
}

} // namespace cloud::objects
