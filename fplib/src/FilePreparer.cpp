#include "FilePreparer.h"

#include "Avhandler.h"
#include "FileMetadata.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>

FilePreparer::FilePreparer(std::vector<const char *> filePaths, int workers, Avhandler &handler)
    : paths(std::move(filePaths))
    , callerHandler(handler)
    , slots(paths.size()) {
    if (workers <= 1 || paths.size() < 2) {
        return;
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(paths[i], error);
        slots[i].bytes = error ? 0 : bytes;
    }
    try {
        // The caller's decoder is idle while workers run: it is the spare
        // that lets a worker go on while the caller holds a block.
        for (int i = 0; i < workers; ++i) {
            ownHandlers.push_back(std::make_unique<Avhandler>());
        }
        freeDecoders.push_back(&callerHandler);
        for (const std::unique_ptr<Avhandler> &own : ownHandlers) {
            freeDecoders.push_back(own.get());
        }
        HeldMessages::holdFFmpegLog(true);
        holdingFFmpegLog = true;
        for (int i = 0; i < workers; ++i) {
            threads.emplace_back(&FilePreparer::work, this);
        }
    } catch (const std::exception &) {
        // Could not start every worker: those running carry on, and with none
        // the files are prepared on the calling thread.
        if (threads.empty()) {
            freeDecoders.clear();
            ownHandlers.clear();
        }
    }
}

FilePreparer::~FilePreparer() {
    {
        std::lock_guard lock(mutex);
        cancelled = true;
    }
    changed.notify_all();
    for (std::thread &thread : threads) {
        thread.join();
    }
    if (holdingFFmpegLog) {
        HeldMessages::holdFFmpegLog(false);
    }
    for (Slot &slot : slots) {
        if (!slot.released) {
            discard(slot.file);
        }
    }
}

PreparedFile FilePreparer::prepare(Avhandler &handler, const char *path) {
    PreparedFile file;
    if (Avhandler::ComputeMD5Sum(path, &file.md5) != 0) {
        file.md5 = nullptr;
        return file;
    }
    decode(handler, path, file);
    return file;
}

void FilePreparer::decode(Avhandler &handler, const char *path, PreparedFile &file) {
    handler.Init();
    try {
        file.metadata = new FileMetadata();
    } catch (const std::bad_alloc &) {
        // Runs on worker threads: report the file as undecodable instead of
        // letting the exception end the process.
        return;
    }
    file.block = handler.ReadFile(path, file.metadata);
}

void FilePreparer::discard(PreparedFile &file) {
    std::free(file.md5);
    delete file.metadata;
    file = PreparedFile{};
}

// Runs the digest of `slot`, claimed under `lock`, with the lock released.
void FilePreparer::digest(std::unique_lock<std::mutex> &lock, Slot &slot, const char *path) {
    slot.digestClaimed = true;
    lock.unlock();
    char *md5 = nullptr;
    int status = 0;
    {
        HeldMessages::Scope hold(slot.messages);
        status = Avhandler::ComputeMD5Sum(path, &md5);
    }
    lock.lock();
    slot.digestStatus = status;
    slot.file.md5 = status == 0 ? md5 : nullptr;
    slot.digested = true;
    changed.notify_all();
}

FilePreparer::Slot *FilePreparer::largestUnclaimedDigest() {
    Slot *largest = nullptr;
    for (Slot &slot : slots) {
        if (!slot.digestClaimed && (largest == nullptr || slot.bytes > largest->bytes)) {
            largest = &slot;
        }
    }
    return largest;
}

void FilePreparer::work() {
    std::unique_lock lock(mutex);
    for (;;) {
        if (cancelled) {
            return;
        }
        // Decodes go in file order, each after its file's digest: a file that
        // cannot be read is not opened a second time.
        if (nextDecode < paths.size() && !freeDecoders.empty()) {
            const std::size_t index = nextDecode;
            Slot &slot = slots[index];
            if (slot.digested) {
                ++nextDecode;
                if (slot.digestStatus == 0) {
                    Avhandler *decoder = freeDecoders.back();
                    freeDecoders.pop_back();
                    slot.decoder = decoder;
                    lock.unlock();
                    PreparedFile decoded;
                    {
                        HeldMessages::Scope hold(slot.messages);
                        decode(*decoder, paths[index], decoded);
                    }
                    lock.lock();
                    slot.file.block = decoded.block;
                    slot.file.metadata = decoded.metadata;
                }
                slot.decoded = true;
                changed.notify_all();
                continue;
            }
            if (!slot.digestClaimed) {
                digest(lock, slot, paths[index]);
                continue;
            }
        }
        // No decode can start: compute the digest of a later file instead.
        if (Slot *later = largestUnclaimedDigest()) {
            digest(lock, *later, paths[static_cast<std::size_t>(later - slots.data())]);
            continue;
        }
        if (nextDecode >= paths.size()) {
            return;
        }
        changed.wait(lock);
    }
}

PreparedFile &FilePreparer::take(std::size_t index) {
    Slot &slot = slots[index];
    if (threads.empty()) {
        slot.file = prepare(callerHandler, paths[index]);
        slot.digested = slot.decoded = true;
        return slot.file;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return slot.digested && slot.decoded; });
    lock.unlock();
    // No worker touches a file's messages once it is decoded.
    slot.messages.print();
    return slot.file;
}

void FilePreparer::release(std::size_t index) {
    std::unique_lock lock(mutex);
    Slot &slot = slots[index];
    discard(slot.file);
    slot.released = true;
    if (slot.decoder != nullptr) {
        freeDecoders.push_back(slot.decoder);
        slot.decoder = nullptr;
    }
    lock.unlock();
    changed.notify_all();
}
