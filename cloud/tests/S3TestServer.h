// A one-node object store speaking S3 on 127.0.0.1 for a test: the Debian
// swift packages with their s3api middleware, started from
// support/swift-s3.py with a folder of its own, and gone with the test.
#pragma once

#include "objects/S3Store.h"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>

namespace cloudtest {

class S3TestServer {
public:
    // Starts the store and waits until it answers; throws when it does not.
    S3TestServer();
    ~S3TestServer();
    // One store for the whole test program, started on first use from the
    // test's main thread; every server on it gets a bucket of its own.
    static S3TestServer &shared();
    S3TestServer(const S3TestServer &) = delete;
    S3TestServer &operator=(const S3TestServer &) = delete;

    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // tempauth's access keys are "account:user".
    static std::string accessKey() { return "sonarbox:tester"; }
    static std::string secret() { return "not-a-real-secret-7Yq"; }

    // A new, empty bucket.
    std::string freshBucket();
    // Options for a store on `bucket`, spooling into `spoolDir`.
    cloud::objects::S3Options options(const std::string &bucket,
                                      const std::filesystem::path &spoolDir) const;
    // The --objects address of `bucket`.
    std::string url(const std::string &bucket) const;
    // The bytes the store has sent in answer to GETs of `key` so far.
    std::uint64_t bytesSentFor(const std::string &key) const;
    // How many requests the store was sent whose line begins with `start`
    // ("POST /bucket/").
    int requestsLike(const std::string &start) const;
    // Writes a 0600 credentials file for --objects-credentials at `path`.
    static void writeCredentials(const std::filesystem::path &path);

private:
    void shutDown();

    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int port_ = 0;
    int buckets_ = 0;
};

} // namespace cloudtest
