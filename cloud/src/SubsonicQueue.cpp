// Where a person is in their listening: the play queue one player saves and
// any other (or the web player after a reload) takes up, bookmarks in long
// songs, and what the account's players are playing now.
#include "Crypto.h"
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

// The songs of bookmarks or now-playing notes (anything naming a mediaId).
template <class Item> std::vector<Song> songsOf(Call &call, const std::vector<Item> &items) {
    std::vector<std::int64_t> mediaIds;
    mediaIds.reserve(items.size());
    for (const auto &item : items)
        mediaIds.push_back(item.mediaId);
    return songsInOrder(call, mediaIds);
}

const Song *songOf(const std::vector<Song> &songs, std::int64_t mediaId) {
    const auto it = std::find_if(songs.begin(), songs.end(),
                                 [&](const Song &s) { return s.mediaId == mediaId; });
    return it == songs.end() ? nullptr : &*it;
}

void getPlayQueue(Call &call) {
    Element ok = okResponse();
    // Nothing saved: an answer without a queue, as the API has it.
    const auto queue = call.ctx.store.playQueue(call.userId());
    if (!queue)
        return reply(call, ok);
    const auto songs = songsInOrder(call, queue->mediaIds);
    Element &e = ok.child("playQueue");
    if (const Song *current = songOf(songs, queue->currentMediaId))
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

void getBookmarks(Call &call) {
    const auto marks = call.ctx.store.bookmarks(call.userId());
    const auto songs = songsOf(call, marks);
    Element ok = okResponse();
    Element &list = ok.child("bookmarks");
    list.list("bookmark");
    for (const auto &b : marks) {
        const Song *song = songOf(songs, b.mediaId);
        if (!song)
            continue;
        Element &e = list.item("bookmark");
        e.set("position", b.positionMs).set("username", call.user.email);
        if (!b.comment.empty())
            e.set("comment", b.comment);
        e.set("created", isoTime(b.createdMs)).set("changed", isoTime(b.changedMs));
        describe(e.child("entry"), *song);
    }
    reply(call, ok);
}

void createBookmark(Call &call) {
    const auto position = integer(call, "position", -1, -1, std::int64_t{1} << 40);
    if (!position)
        return;
    if (*position < 0)
        return fail(call, kMissingParameter, "required parameter \"position\" is missing");
    std::string comment = call.param("comment").value_or("");
    if (comment.size() > 1024)
        return fail(call, kGeneric, "a bookmark's comment is at most 1024 bytes");
    const auto song = requiredSong(call);
    if (!song)
        return;
    Bookmark b;
    b.mediaId = song->mediaId;
    b.positionMs = *position;
    b.comment = std::move(comment);
    b.changedMs = nowMs();
    call.ctx.store.saveBookmark(call.userId(), b);
    reply(call, okResponse());
}

void deleteBookmark(Call &call) {
    const auto song = requiredSong(call);
    if (!song)
        return;
    if (!call.ctx.store.deleteBookmark(call.userId(), song->mediaId))
        return fail(call, kNotFound, "no bookmark of that song");
    reply(call, okResponse());
}

// A song counts as playing until it would have ended, and this much after.
constexpr std::int64_t kNowPlayingGraceMs = 60 * 1000;

// Players are told apart by their names; the API numbers them.
std::int64_t playerNumber(const std::string &name) {
    return std::stoll(crypto::md5HexUpper(name).substr(0, 7), nullptr, 16);
}

void getNowPlaying(Call &call) {
    const auto playing = call.ctx.store.nowPlaying(call.userId(), kNowPlayingGraceMs);
    const auto songs = songsOf(call, playing);
    Element ok = okResponse();
    Element &list = ok.child("nowPlaying");
    list.list("entry");
    const std::int64_t now = nowMs();
    for (const auto &p : playing) {
        const auto song = songOf(songs, p.mediaId);
        if (!song)
            continue;
        Element &e = list.item("entry");
        describe(e, *song);
        e.set("username", call.user.email)
            .set("minutesAgo", std::max<std::int64_t>(0, (now - p.startedMs) / 60000))
            .set("playerId", playerNumber(p.player));
        if (!p.player.empty())
            e.set("playerName", p.player);
    }
    reply(call, ok);
}

} // namespace

void notePlaying(Call &call, std::int64_t mediaId) {
    call.ctx.store.setNowPlaying(call.userId(), NowPlaying{mediaId, playerName(call), nowMs()});
}

void addListeningMethods(Methods &m) {
    m["getPlayQueue"] = getPlayQueue;
    m["savePlayQueue"] = savePlayQueue;
    m["getBookmarks"] = getBookmarks;
    m["createBookmark"] = createBookmark;
    m["deleteBookmark"] = deleteBookmark;
    m["getNowPlaying"] = getNowPlaying;
}

} // namespace cloud::subsonic
