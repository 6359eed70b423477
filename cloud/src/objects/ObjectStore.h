// Where stored files live: a folder on this machine, or a bucket of an
// S3-compatible object store shared by several server processes. Everything
// that reads or writes stored bytes goes through this interface, so that the
// rest of the server never knows which one it runs on.
//
// Objects are written once and never change under their key: a new object
// is written as an incoming one and becomes visible under its key only when
// all of it has arrived, so a crash or a refusal never leaves a partial
// object where a finished one is expected.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace cloud::objects {

// The store could not be reached or refused a request. The message never
// holds credentials.
class ObjectError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Random access to one stored object's bytes.
class ObjectReader {
public:
    virtual ~ObjectReader() = default;
    virtual std::uint64_t size() const = 0;
    // Copies up to `max` bytes from `offset` into `out`: how many (possibly
    // fewer than asked), 0 at or past the end, -1 when the store failed.
    // Reading on from where the last read ended is the cheap case.
    virtual long read(std::uint64_t offset, char *out, std::size_t max) = 0;
    // The bytes [first, last] the next reads stay within: a remote reader then
    // asks the store for those alone.
    virtual void willRead(std::uint64_t first, std::uint64_t last) {
        (void)first;
        (void)last;
    }
    // The descriptor of a local file holding the bytes, for sending them
    // without copying; -1 when there is none. The reader keeps it.
    virtual int fileDescriptor() const { return -1; }
};

// An object being written. Destroyed without commit(), it is abandoned: its
// bytes are removed and nothing of it becomes visible.
class IncomingObject {
public:
    virtual ~IncomingObject() = default;
    // What the sender says the object's size will be, before the first
    // write. Only a hint: the bytes written decide, but a store may send
    // them on while they arrive when it knows how many to expect.
    virtual void expectSize(std::uint64_t) {}
    // False when the bytes could not be stored.
    virtual bool write(const char *data, std::size_t size) = 0;
    virtual std::uint64_t size() const = 0;
    // The bytes written so far, for checks before the commit.
    virtual std::unique_ptr<ObjectReader> readBack() = 0;
    // Makes the object visible and returns its key; throws when it cannot,
    // and the object is then abandoned. A writer that hashed the bytes as it
    // wrote them gives their MD5 (lower-case hex): a store checks what it
    // stored against it rather than hash the bytes once more.
    std::string commit(const std::string &md5Hex = {}) { return commitObject(md5Hex); }

protected:
    virtual std::string commitObject(const std::string &md5Hex) = 0;
};

// One entry of a listing: a stored object, or an upload that was begun and
// never finished (a crash, a kill), which only the clean-up removes.
struct ObjectEntry {
    std::string key;
    std::uint64_t size = 0; // 0 for an unfinished multipart upload
    std::chrono::system_clock::time_point modified;
    bool unfinished = false;
    std::string uploadId; // of an unfinished multipart upload
};

class ObjectStore {
public:
    virtual ~ObjectStore() = default;

    // A new object under a new random key.
    std::unique_ptr<IncomingObject> create();
    // A new object under `key`, which replaces any object there when it is
    // committed: a copy of a store keeps the keys its records name.
    virtual std::unique_ptr<IncomingObject> createAt(const std::string &key) = 0;
    // Null when there is no object under `key`; throws ObjectError when the
    // store fails.
    virtual std::unique_ptr<ObjectReader> open(const std::string &key) = 0;
    virtual std::optional<std::uint64_t> size(const std::string &key) = 0;
    // Removing a missing object is no error.
    virtual void remove(const std::string &key) = 0;
    // Removes many at once where the store can; returns the keys it could
    // not remove, each with the reason.
    virtual std::vector<std::pair<std::string, std::string>>
    removeMany(const std::vector<std::string> &keys);
    // Every stored object and every unfinished upload, in no particular order.
    virtual void list(const std::function<void(const ObjectEntry &)> &each) = 0;
    // Removes an unfinished upload the listing gave.
    virtual void abandon(const ObjectEntry &unfinished) = 0;

    // Whether the store can take and give objects now, cheaply enough to be
    // asked every few seconds (a load balancer's readiness probe); throws
    // ObjectError saying what is wrong.
    virtual void checkReady() = 0;

    // Whether opening and reading touch this machine's disks only, so that
    // an event thread may do it; a remote store is read on workers.
    virtual bool isLocal() const = 0;
    // For log lines: where the objects are (never with credentials).
    virtual std::string describe() const = 0;
};

struct Credentials {
    std::string accessKeyId;
    std::string secretAccessKey;
};

// The credentials of an object store: from `file` when given (lines
// "access_key_id=…" and "secret_access_key=…"; refused unless only its owner
// may read it), else from SONARBOX_S3_ACCESS_KEY_ID and
// SONARBOX_S3_SECRET_ACCESS_KEY. Throws ObjectError when there are none.
Credentials loadCredentials(const std::filesystem::path &file);

// The store an operator names: "" for the data folder's own media/ and
// incoming/, or "s3://BUCKET[/PREFIX]?endpoint=URL&region=REGION" for a
// bucket (path-style addressing). `dataDir` also holds the local copies of
// uploads being checked. Throws ObjectError for a malformed or unusable one.
std::unique_ptr<ObjectStore> openObjectStore(const std::string &address,
                                             const std::filesystem::path &dataDir,
                                             const std::filesystem::path &credentialsFile = {});

} // namespace cloud::objects
