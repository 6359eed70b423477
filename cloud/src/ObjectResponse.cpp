#include "ObjectResponse.h"

#include "HttpRange.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace cloud {

namespace {

// Bytes read from the store per piece, and how few the client may have left
// before the next piece is asked for.
constexpr std::size_t kPieceBytes = 256 * 1024;
constexpr std::size_t kRefillBelow = 128 * 1024;

class ObjectBody : public http::BodyStream {
public:
    ObjectBody(std::unique_ptr<objects::ObjectReader> reader, std::uint64_t first,
               std::uint64_t length, WorkPool &pool)
        : pieces_(std::make_shared<Pieces>())
        , pool_(pool) {
        reader->willRead(first, first + length - 1);
        pieces_->reader = std::move(reader);
        pieces_->next = first;
        pieces_->end = first + length;
    }

    ~ObjectBody() override {
        std::lock_guard lock(pieces_->mutex);
        pieces_->wake = nullptr;
    }

    long read(char *out, std::size_t max) override {
        Pieces &p = *pieces_;
        std::lock_guard lock(p.mutex);
        if (!p.wake)
            p.wake = [this] { wake(); };
        const std::size_t available = p.ready.size() - p.readyAt;
        if (available > 0) {
            const std::size_t n = std::min(max, available);
            std::memcpy(out, p.ready.data() + p.readyAt, n);
            p.readyAt += n;
            if (available - n < kRefillBelow && !p.underWay && !p.failed && p.next < p.end)
                p.schedule(pieces_, pool_);
            return static_cast<long>(n);
        }
        if (p.failed)
            return -1;
        if (p.next >= p.end)
            return 0;
        if (!p.underWay && !p.schedule(pieces_, pool_))
            return -1;
        return kNotReady;
    }

private:
    // What the stream and the piece being read share: the client may leave
    // while a worker still reads.
    struct Pieces {
        std::unique_ptr<objects::ObjectReader> reader; // used by one piece at a time
        std::mutex mutex;
        std::uint64_t next = 0; // the first byte not yet read from the store
        std::uint64_t end = 0;
        std::string ready;
        std::size_t readyAt = 0;
        bool underWay = false;
        bool failed = false;
        std::function<void()> wake;

        // Under the lock.
        bool schedule(const std::shared_ptr<Pieces> &self, WorkPool &pool) {
            underWay = true;
            const std::uint64_t from = next;
            const auto size =
                static_cast<std::size_t>(std::min<std::uint64_t>(kPieceBytes, end - next));
            const std::weak_ptr<Pieces> weak = self;
            if (pool.submit(WorkKind::Transfer, [weak, from, size](bool cancelled) {
                    if (const auto pieces = weak.lock())
                        pieces->fetch(from, size, cancelled);
                }))
                return true;
            underWay = false;
            failed = true;
            return false;
        }

        void fetch(std::uint64_t from, std::size_t size, bool cancelled) {
            std::string piece(cancelled ? 0 : size, '\0');
            std::size_t filled = 0;
            while (filled < piece.size()) {
                const long n = reader->read(from + filled, piece.data() + filled, size - filled);
                if (n <= 0)
                    break;
                filled += static_cast<std::size_t>(n);
            }
            std::lock_guard lock(mutex);
            if (readyAt > 0) {
                ready.erase(0, readyAt);
                readyAt = 0;
            }
            ready.append(piece, 0, filled);
            next = from + filled;
            // The object is shorter than its record, or the store failed:
            // the client sees a cut answer rather than wrong bytes.
            failed = filled < size;
            underWay = false;
            if (wake)
                wake();
        }
    };

    std::shared_ptr<Pieces> pieces_;
    WorkPool &pool_;
};

// Sends `length` bytes of the object from `first` on as the body of `res`.
void sendBytes(http::Response &res, std::unique_ptr<objects::ObjectReader> reader,
               std::uint64_t first, std::uint64_t length, const std::string &contentType,
               WorkPool &pool) {
    if (const int fd = reader->fileDescriptor(); fd >= 0) {
        const int own = ::dup(fd);
        if (own >= 0) {
            res.sendFile(own, length, contentType);
            res.fileOffset = first;
            return;
        }
    }
    if (length == 0)
        return res.setContent({}, contentType);
    res.setHeader("Content-Type", contentType);
    res.streamLength = length;
    res.stream = std::make_unique<ObjectBody>(std::move(reader), first, length, pool);
}

} // namespace

void sendObject(http::Response &res, std::unique_ptr<objects::ObjectReader> reader,
                const std::string &rangeHeader, const std::string &contentType, WorkPool &pool) {
    const std::uint64_t size = reader->size();
    const auto range = http::answerRange(res, rangeHeader, size);
    if (!range)
        return;
    sendBytes(res, std::move(reader), range->first, size > 0 ? range->last - range->first + 1 : 0,
              contentType, pool);
}

void withObject(http::Response &res, objects::ObjectStore &store, WorkPool &pool,
                const std::string &key,
                std::function<void(std::unique_ptr<objects::ObjectReader>)> opened,
                std::function<void()> unavailable) {
    const auto attempt = [&store, key, opened, unavailable] {
        std::unique_ptr<objects::ObjectReader> reader;
        try {
            reader = store.open(key);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "cannot read a stored file: %s\n", e.what());
            return unavailable();
        }
        opened(std::move(reader));
    };
    if (store.isLocal())
        return attempt();
    res.deferred = [&pool, attempt, unavailable](std::function<void()> done) {
        if (!pool.submit(WorkKind::Transfer, [attempt, unavailable, done](bool cancelled) {
                if (cancelled)
                    unavailable();
                else
                    attempt();
                done();
            })) {
            unavailable();
            done();
        }
    };
}

} // namespace cloud
