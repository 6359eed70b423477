// Where a person is in their listening: the play queue one player saves and
// any other (or the web player after a reload) takes up.
#include "Subsonic.h"

#include <algorithm>

namespace cloud::subsonic {

namespace {

// A player's name as it gives it ("c"), kept as display text.
constexpr std::size_t kMaxPlayerNameBytes = 256;

std::string playerName(const Call &call) {
    std::string name = call.param("c").value_or("");
    if (name.size() > kMaxPlayerNameBytes)
        name.resize(kMaxPlayerNameBytes);
    return name;
}

void getPlayQueue(Call &call) {
    Element ok = okResponse();
    // Nothing saved: an answer without a queue, as the API has it.
    const auto queue = call.ctx.store.playQueue(call.userId());
    if (!queue)
        return reply(call, ok);
    const auto songs = songsInOrder(call, queue->mediaIds);
    Element &e = ok.child("playQueue");
    const auto current = std::find_if(songs.begin(), songs.end(), [&](const Song &s) {
        return s.mediaId == queue->currentMediaId;
    });
    if (current != songs.end())
        e.set("current", current->id).set("position", queue->positionMs);
    e.set("username", call.user.email)
        .set("changed", isoTime(queue->changedMs))
        .set("changedBy", queue->changedBy);
    e.list("entry");
    for (const auto &song : songs)
        describe(e.item("entry"), song);
    reply(call, ok);
}

// The songs (id, in order), the one playing (current) and where in it
// (position, milliseconds). No songs clears the queue.
void savePlayQueue(Call &call) {
    const auto position = integer(call, "position", 0, 0, std::int64_t{1} << 40);
    if (!position)
        return;
    const auto ids = call.params("id");
    const auto media = mediaIdsOf(call, ids);
    if (!media)
        return;
    PlayQueue queue;
    queue.mediaIds = *media;
    queue.positionMs = *position;
    queue.changedMs = nowMs();
    queue.changedBy = playerName(call);
    if (const auto current = call.param("current"); current && !current->empty()) {
        const auto at = std::find(ids.begin(), ids.end(), *current);
        if (at == ids.end())
            return fail(call, kGeneric, "the current song must be one of the queue's songs");
        queue.currentMediaId = queue.mediaIds[static_cast<std::size_t>(at - ids.begin())];
    }
    call.ctx.store.savePlayQueue(call.userId(), queue);
    reply(call, okResponse());
}

} // namespace

void addListeningMethods(Methods &m) {
    m["getPlayQueue"] = getPlayQueue;
    m["savePlayQueue"] = savePlayQueue;
}

} // namespace cloud::subsonic
