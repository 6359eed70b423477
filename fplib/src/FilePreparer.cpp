#include "FilePreparer.h"

#include "Avhandler.h"
#include "FileMetadata.h"

#include <cstdio>
#include <cstdlib>
#include <new>

FilePreparer::FilePreparer(std::vector<const char *> filePaths, int workers, Avhandler &handler)
    : paths(std::move(filePaths))
    , callerHandler(handler)
    , slots(paths.size()) {
    if (workers <= 1 || paths.size() < 2) {
        return;
    }
    try {
        for (int i = 0; i < workers; ++i) {
            handlers.push_back(std::make_unique<Avhandler>());
            threads.emplace_back(&FilePreparer::work, this, std::ref(*handlers.back()));
        }
    } catch (const std::exception &) {
        // Could not start every worker: those running carry on, and with none
        // the files are prepared on the calling thread.
        if (threads.empty()) {
            handlers.clear();
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
    for (Slot &slot : slots) {
        if (!slot.released) {
            discard(slot.file);
        }
    }
}

PreparedFile FilePreparer::prepare(Avhandler &handler, const char *path) {
    PreparedFile file;
    handler.Init();
    if (Avhandler::ComputeMD5Sum(path, &file.md5) != 0) {
        file.md5 = nullptr;
        return file;
    }
    try {
        file.metadata = new FileMetadata();
    } catch (const std::bad_alloc &) {
        // Runs on worker threads: report the file as undecodable instead of
        // letting the exception end the process.
        return file;
    }
    file.block = handler.ReadFile(path, file.metadata);
    return file;
}

void FilePreparer::discard(PreparedFile &file) {
    std::free(file.md5);
    delete file.metadata;
    file = PreparedFile{};
}

void FilePreparer::work(Avhandler &handler) {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard lock(mutex);
            if (cancelled || next >= paths.size()) {
                return;
            }
            index = next++;
        }
        PreparedFile file = prepare(handler, paths[index]);
        std::unique_lock lock(mutex);
        slots[index].file = file;
        slots[index].ready = true;
        changed.notify_all();
        // The block is this worker's: wait until the caller is done with it.
        changed.wait(lock, [&] { return slots[index].released || cancelled; });
    }
}

PreparedFile &FilePreparer::take(std::size_t index) {
    if (threads.empty()) {
        slots[index].file = prepare(callerHandler, paths[index]);
        slots[index].ready = true;
        return slots[index].file;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return slots[index].ready; });
    return slots[index].file;
}

void FilePreparer::release(std::size_t index) {
    std::unique_lock lock(mutex);
    discard(slots[index].file);
    slots[index].released = true;
    lock.unlock();
    changed.notify_all();
}
