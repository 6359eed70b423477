// Objects in a bucket of an S3-compatible object store, spoken to through
// libcurl, which signs every request (Signature Version 4). Addresses are
// path-style (ENDPOINT/BUCKET/KEY), so any store on any host name works.
//
// An object being written is sent on while it arrives: as one PUT when its
// size was announced and fits one, its last byte held back until the
// commit; otherwise as a multipart upload, completed at the commit. Either
// way it becomes visible only once committed, and an abandoned one is cut
// off or aborted. A local copy of it, in an unnamed file that no crash
// leaves behind, serves the checks made before the commit. Reads are ranged GETs, kept open while
// the reader reads on and paused while it does not.
#pragma once

#include "ObjectStore.h"

#include <filesystem>
#include <memory>
#include <string>

namespace cloud::objects {

struct S3Options {
    std::string endpoint; // "http://127.0.0.1:9000", without a path
    std::string bucket;
    std::string region = "us-east-1";
    std::string prefix; // put before every key ("music/"); empty for none
    Credentials credentials;
    // S3 takes parts of at least 5 MiB (but the last).
    std::size_t partBytes = 8u << 20;
    // An object announced at up to this size goes as one PUT, which costs a
    // store less than the requests of a multipart upload.
    std::uint64_t singlePutBytes = 64u << 20;
    int pageSize = 1000;            // keys per listing request
    std::filesystem::path spoolDir; // local copies of objects being written
};

class S3Store : public ObjectStore {
public:
    explicit S3Store(S3Options options);
    ~S3Store() override;

    std::unique_ptr<IncomingObject> createAt(const std::string &key) override;
    std::unique_ptr<ObjectReader> open(const std::string &key) override;
    std::optional<std::uint64_t> size(const std::string &key) override;
    void remove(const std::string &key) override;
    std::vector<std::pair<std::string, std::string>>
    removeMany(const std::vector<std::string> &keys) override;
    void list(const std::function<void(const ObjectEntry &)> &each) override;
    void abandon(const ObjectEntry &unfinished) override;
    void checkReady() override;
    bool isLocal() const override { return false; }
    std::string describe() const override;

    // Makes the bucket, and removes it when empty (set-up and tests).
    void createBucket();
    void deleteBucket();
    // Begins a multipart upload of `key` and returns its ID, as writing a
    // large object does first; what a crash leaves behind.
    std::string beginMultipartUpload(const std::string &key);

    class Client;

private:
    std::shared_ptr<Client> client_;
};

} // namespace cloud::objects
