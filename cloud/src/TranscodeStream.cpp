#include "TranscodeStream.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

namespace cloud {

namespace {

// Encoded bytes made per piece: a few seconds of audio at common rates. The
// first is smaller, so that a player starts sooner.
constexpr std::size_t kFirstPieceBytes = 8 * 1024;
constexpr std::size_t kPieceBytes = 64 * 1024;
// ...and at most this much audio, so that paced pieces come a second apart
// at most, well within any client's patience, whatever the bit rate.
constexpr double kPieceSeconds = 4;
// The next piece is begun while the client still has this much to take.
constexpr std::size_t kRefillBelow = 32 * 1024;
// Audio sent at once, before pacing begins, and the pace after it.
constexpr double kLeadSeconds = 30;
constexpr double kPace = 4;

} // namespace

WorkPool::Clock::time_point nextPieceAt(WorkPool::Clock::time_point start, double producedSeconds) {
    if (producedSeconds <= kLeadSeconds)
        return start;
    const std::chrono::duration<double> after((producedSeconds - kLeadSeconds) / kPace);
    return start + std::chrono::duration_cast<WorkPool::Clock::duration>(after);
}

struct TranscodeStream::Pieces {
    std::unique_ptr<Transcoder> encoder; // used by one piece at a time
    WorkPool::Clock::time_point start = WorkPool::Clock::now();

    std::mutex mutex;
    std::string ready; // encoded bytes the client has not taken yet
    std::size_t readyAt = 0;
    bool underWay = false;
    bool begun = false; // the first piece is made
    bool ended = false;
    bool failed = false;
    // Cleared when the stream goes: the wake reaches into the connection.
    std::function<void()> wake;

    // Under the lock: asks the pool for the next piece; false when it takes no more.
    bool schedule(const std::shared_ptr<Pieces> &self, WorkPool &pool) {
        underWay = true;
        const auto when = nextPieceAt(start, encoder->producedSeconds());
        // A client that left frees its encoder at once, not when a paced
        // piece comes due: the queued piece holds the stream only weakly.
        const std::weak_ptr<Pieces> weak = self;
        if (pool.submitAt(WorkKind::Transcode, when, [weak](bool cancelled) {
                if (const auto pieces = weak.lock())
                    pieces->produce(cancelled);
            }))
            return true;
        underWay = false;
        ended = failed = true;
        return false;
    }

    void produce(bool cancelled) {
        std::string piece;
        bool end = false;
        bool failure = cancelled;
        if (!cancelled) {
            // Only this job touches `begun` until it is done: no lock needed.
            const std::size_t size = begun ? kPieceBytes : kFirstPieceBytes;
            begun = true;
            piece.resize(size);
            std::size_t filled = 0;
            const double until = encoder->producedSeconds() + kPieceSeconds;
            while (filled < size && encoder->producedSeconds() < until) {
                const long n = encoder->read(piece.data() + filled, size - filled);
                if (n <= 0) {
                    end = true;
                    failure = n < 0;
                    break;
                }
                filled += static_cast<std::size_t>(n);
            }
            piece.resize(filled);
        }
        std::lock_guard lock(mutex);
        if (readyAt > 0) {
            ready.erase(0, readyAt);
            readyAt = 0;
        }
        ready += piece;
        underWay = false;
        ended = end || failure;
        failed = failure;
        // Under the lock, so that the stream cannot go while its wake runs.
        if (wake)
            wake();
    }
};

TranscodeStream::TranscodeStream(std::unique_ptr<Transcoder> encoder, WorkPool &pool,
                                 std::shared_ptr<StreamSlots::Ticket> slot,
                                 std::optional<std::uint64_t> exactLength)
    : pieces_(std::make_shared<Pieces>())
    , pool_(pool)
    , slot_(std::move(slot))
    , left_(exactLength) {
    pieces_->encoder = std::move(encoder);
}

TranscodeStream::~TranscodeStream() {
    std::lock_guard lock(pieces_->mutex);
    pieces_->wake = nullptr;
}

long TranscodeStream::read(char *out, std::size_t max) {
    if (!left_)
        return readEncoded(out, max);
    if (*left_ == 0)
        return 0;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(max, *left_));
    long n = readEncoded(out, wanted);
    if (n == 0) {
        // The encoder made less than was said: the rest is padding.
        std::memset(out, 0, wanted);
        n = static_cast<long>(wanted);
    }
    if (n > 0)
        *left_ -= static_cast<std::uint64_t>(n);
    return n;
}

long TranscodeStream::readEncoded(char *out, std::size_t max) {
    Pieces &p = *pieces_;
    std::lock_guard lock(p.mutex);
    if (!p.wake)
        p.wake = [this] { wake(); };
    const std::size_t available = p.ready.size() - p.readyAt;
    if (available > 0) {
        const std::size_t n = std::min(max, available);
        std::memcpy(out, p.ready.data() + p.readyAt, n);
        p.readyAt += n;
        // The next piece is made while the client takes this one.
        if (available - n < kRefillBelow && !p.ended && !p.underWay)
            p.schedule(pieces_, pool_);
        return static_cast<long>(n);
    }
    if (p.ended)
        return p.failed ? -1 : 0;
    if (!p.underWay && !p.schedule(pieces_, pool_))
        return -1;
    return kNotReady;
}

} // namespace cloud
