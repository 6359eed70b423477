#pragma once

#include "HeldMessages.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Avhandler;
class FileMetadata;

// What the query needs of one audio file.
struct PreparedFile {
    char *md5 = nullptr;              // owned; null when the digest failed
    const uint8_t *block = nullptr;   // sample block; null when nothing was decoded
    FileMetadata *metadata = nullptr; // owned
};

// Computes digests and decodes the audio files of one call, delivered in
// argument order. With one worker everything runs on the calling thread when
// asked for; with more, worker threads prepare files ahead while the caller
// hands the previous ones to the engine.
//
// Each file is two tasks: the whole-file digest, which needs only a small
// read buffer, and the decode, which fills a sample block. Blocks belong to
// decoders, and there is one decoder more than there are workers, so a
// worker can decode the next file while the caller still holds a block, and
// memory stays at one undelivered block per worker plus the caller's. A
// worker that cannot start a decode computes the digest of a later file, the
// largest first, so no worker waits while work remains and the last tasks of
// a call are short ones.
//
// What a file's digest and decode print on a worker thread is held with the
// file and printed when the file is taken, so the output is in argument
// order, exactly as with one worker.
class FilePreparer {
public:
    FilePreparer(std::vector<const char *> paths, int workers, Avhandler &callerHandler);
    ~FilePreparer();
    FilePreparer(const FilePreparer &) = delete;
    FilePreparer &operator=(const FilePreparer &) = delete;

    // Files must be taken in order, each released before the next is taken.
    PreparedFile &take(std::size_t index);
    void release(std::size_t index);

private:
    struct Slot {
        PreparedFile file;
        std::uintmax_t bytes = 0; // file size, to take the longest digests first
        int digestStatus = 0;
        bool digestClaimed = false;
        bool digested = false;
        bool decoded = false;
        bool released = false;
        HeldMessages messages;
        Avhandler *decoder = nullptr; // holds the block until the file is released
    };
    static PreparedFile prepare(Avhandler &handler, const char *path);
    static void decode(Avhandler &handler, const char *path, PreparedFile &file);
    static void discard(PreparedFile &file);
    void work();
    void digest(std::unique_lock<std::mutex> &lock, Slot &slot, const char *path);
    Slot *largestUnclaimedDigest();

    std::vector<const char *> paths;
    Avhandler &callerHandler;
    std::vector<Slot> slots;
    std::vector<std::unique_ptr<Avhandler>> ownHandlers;
    std::vector<Avhandler *> freeDecoders;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t nextDecode = 0;
    bool cancelled = false;
    bool holdingFFmpegLog = false;
};
