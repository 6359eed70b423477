// A transcoded answer made on the worker pool, a piece at a time while the
// client takes the last one. Once it is well ahead of the listener it is
// paced to a few times real time: a player needs no more, and a reader as
// fast as the network would otherwise hold a worker for the whole song.
#pragma once

#include "StreamSlots.h"
#include "Transcode.h"
#include "WorkPool.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace cloud {

// When the piece after `producedSeconds` of audio may be made, for a stream
// that began at `start`: at once within the lead, then at `kPace` × real time.
WorkPool::Clock::time_point nextPieceAt(WorkPool::Clock::time_point start, double producedSeconds);

class TranscodeStream : public http::BodyStream {
public:
    // With `exactLength`, the stream is that many bytes whatever the encoder
    // makes: cut, or padded with zero bytes (which decoders skip as junk
    // between frames or after the last page).
    TranscodeStream(std::unique_ptr<Transcoder> encoder, WorkPool &pool,
                    std::shared_ptr<StreamSlots::Ticket> slot,
                    std::optional<std::uint64_t> exactLength = std::nullopt);
    ~TranscodeStream() override;

    long read(char *out, std::size_t max) override;

    // What the stream and its piece under way share: a client may leave, and
    // its stream go, while a worker still makes the next piece.
    struct Pieces;

private:
    long readEncoded(char *out, std::size_t max);
    std::shared_ptr<Pieces> pieces_;
    WorkPool &pool_;
    std::shared_ptr<StreamSlots::Ticket> slot_;
    std::optional<std::uint64_t> left_; // bytes still to send, when the length is fixed
};

} // namespace cloud
