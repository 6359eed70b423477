// How many transcoded streams run at once: a few per account (a player that
// preloads the next song holds two, so two devices fit) and a bound in total,
// so that one player password cannot take the server's encoding to itself.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace cloud {

class StreamSlots {
public:
    StreamSlots(int perAccount, int total)
        : perAccount_(perAccount)
        , total_(total) {}

    // Held for as long as the stream runs; its end frees the slot.
    class Ticket {
    public:
        Ticket(StreamSlots &slots, std::int64_t userId)
            : slots_(slots)
            , userId_(userId) {}
        ~Ticket() { slots_.release(userId_); }
        Ticket(const Ticket &) = delete;
        Ticket &operator=(const Ticket &) = delete;

    private:
        StreamSlots &slots_;
        std::int64_t userId_;
    };

    // Null when the account or the server already runs as many as allowed.
    std::shared_ptr<Ticket> take(std::int64_t userId);

private:
    void release(std::int64_t userId);

    int perAccount_;
    int total_;
    std::mutex mutex_;
    int running_ = 0;
    std::map<std::int64_t, int> perUser_;
};

} // namespace cloud
