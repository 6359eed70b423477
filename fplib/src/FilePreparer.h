#pragma once

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

// Computes digests and decodes the audio files of one call, in argument
// order. With one worker everything runs on the calling thread when asked
// for; with more, worker threads each own a decoder and prepare files ahead
// while the caller hands the previous ones to the engine. Each worker keeps
// one file at a time, so memory stays at one sample block per worker.
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
        bool ready = false;
        bool released = false;
    };
    static PreparedFile prepare(Avhandler &handler, const char *path);
    static void discard(PreparedFile &file);
    void work(Avhandler &handler);

    std::vector<const char *> paths;
    Avhandler &callerHandler;
    std::vector<Slot> slots;
    std::vector<std::unique_ptr<Avhandler>> handlers;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0;
    bool cancelled = false;
};
