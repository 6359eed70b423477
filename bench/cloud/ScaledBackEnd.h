// Where a benchmark's server keeps what it knows and stores: a household
// data folder, or the scaled back end, a PostgreSQL database and a bucket of
// an S3-compatible store. The scaled benchmarks start both privately on
// 127.0.0.1 with the starters the cloud tests use, and a balancer in front
// of several servers when asked (cloud/tests/BalancerTestServer.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace bench {

struct BackEnd {
    std::filesystem::path data;        // the keys, and the stored files without a bucket
    std::string database;              // "postgresql://…"; empty: the data folder's SQLite file
    std::string objects;               // "s3://…"; empty: the data folder's media/
    std::filesystem::path credentials; // the bucket's, a 0600 file

    // The options of every sonarbox-cloud command that name these.
    std::vector<std::string> args() const;
    // The same without --data, for a Server, which names its folder itself.
    std::vector<std::string> sharedArgs() const;
    // The database as --database or the SQLite file's path.
    std::string databaseLocation() const;
    bool scaled() const { return !database.empty(); }
};

// The private PostgreSQL server and object store, started on first use.
// A new database, migrated; a new bucket; the bucket's address.
std::string newDatabase();
std::string newBucket();
std::string bucketUrl(const std::string &bucket);
std::string objectStoreEndpoint();
// Writes the store's credentials into a 0600 file at `path`.
void writeObjectStoreCredentials(const std::filesystem::path &path);
// The store's access key and secret, for clients other than the server.
std::string objectStoreAccessKey();
std::string objectStoreSecret();

// A back end of its own in `data`: a new database and a new bucket when
// `scaled`, else the household folder.
BackEnd makeBackEnd(const std::filesystem::path &data, bool scaled);

} // namespace bench
