// Playlists and annotations (stars, plays). Every song ID a request names is
// checked against the caller's own library before it is kept.
#include "Subsonic.h"

#include <algorithm>
#include <charconv>

namespace cloud::subsonic {

namespace {

constexpr std::size_t kMaxNameBytes = 256;
// Stars and plays of one request: as many as a playlist's songs.
constexpr std::size_t kMaxIdsPerRequest = kMaxPlaylistEntries;

bool withinIdCap(Call &call, std::size_t count) {
    if (count <= kMaxIdsPerRequest)
        return true;
    fail(call, kGeneric, "at most " + std::to_string(kMaxIdsPerRequest) + " IDs");
    return false;
}

void failTooLong(Call &call) {
    fail(call, kGeneric,
         "a playlist holds at most " + std::to_string(kMaxPlaylistEntries) +
             " songs: this change would make it longer, and it was left as it was");
}

void sendPlaylist(Call &call, const Playlist &p) {
    Element ok = okResponse();
    Element &e = ok.child("playlist");
    describe(e, p, call.user);
    e.list("entry");
    for (const auto &song : songsInOrder(call, p.mediaIds))
        describe(e.item("entry"), song);
    reply(call, ok);
}

bool validText(Call &call, const std::optional<std::string> &text, const char *what) {
    if (text && text->size() > kMaxNameBytes) {
        fail(call, kGeneric, std::string("a playlist ") + what + " is at most 256 bytes");
        return false;
    }
    return true;
}

void getPlaylists(Call &call) {
    if (const auto who = call.param("username"); who && *who != call.user.email)
        return fail(call, kNotAuthorised, "only your own playlists can be listed");
    Element ok = okResponse();
    Element &list = ok.child("playlists");
    list.list("playlist");
    for (const auto &p : call.ctx.store.playlists(call.userId()))
        describe(list.item("playlist"), p, call.user);
    reply(call, ok);
}

void getPlaylist(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto p =
        isWellFormedId(*id) ? call.ctx.store.findPlaylist(call.userId(), *id) : std::nullopt;
    if (!p)
        return fail(call, kNotFound, "playlist not found");
    sendPlaylist(call, *p);
}

void createPlaylist(Call &call) {
    const auto existing = call.param("playlistId");
    const auto name = call.param("name");
    if (!existing && (!name || name->empty()))
        return fail(call, kMissingParameter,
                    "required parameter \"name\" or \"playlistId\" is missing");
    if (!validText(call, name, "name"))
        return;
    const auto songs = mediaIdsOf(call, call.params("songId"));
    if (!songs)
        return;
    if (!existing) {
        const auto made = call.ctx.store.createPlaylist(call.userId(), *name, *songs);
        if (!made)
            return failTooLong(call);
        return sendPlaylist(call, *made);
    }
    // Given a playlist, its songs are replaced by the ones named.
    const PlaylistChange change =
        isWellFormedId(*existing)
            ? call.ctx.store.updatePlaylist(call.userId(), *existing, name, std::nullopt,
                                            std::nullopt, {}, {}, *songs)
            : PlaylistChange::NotFound;
    if (change == PlaylistChange::TooLong)
        return failTooLong(call);
    const auto p = change == PlaylistChange::Done
                       ? call.ctx.store.findPlaylist(call.userId(), *existing)
                       : std::nullopt;
    if (!p)
        return fail(call, kNotFound, "playlist not found");
    sendPlaylist(call, *p);
}

void updatePlaylist(Call &call) {
    const auto id = required(call, "playlistId");
    if (!id)
        return;
    const auto name = call.param("name");
    const auto comment = call.param("comment");
    if (!validText(call, name, "name") || !validText(call, comment, "comment"))
        return;
    std::optional<bool> isPublic;
    if (call.param("public"))
        isPublic = call.flag("public", false);
    std::vector<int> removeAt;
    for (const auto &text : call.params("songIndexToRemove")) {
        int index = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
        if (ec != std::errc() || ptr != text.data() + text.size() || index < 0)
            return fail(call, kGeneric, "songIndexToRemove must be a position in the playlist");
        removeAt.push_back(index);
    }
    const auto add = mediaIdsOf(call, call.params("songIdToAdd"));
    if (!add)
        return;
    const PlaylistChange change =
        isWellFormedId(*id) ? call.ctx.store.updatePlaylist(call.userId(), *id, name, comment,
                                                            isPublic, removeAt, *add)
                            : PlaylistChange::NotFound;
    if (change == PlaylistChange::TooLong)
        return failTooLong(call);
    if (change == PlaylistChange::NotFound)
        return fail(call, kNotFound, "playlist not found");
    reply(call, okResponse());
}

void deletePlaylist(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!isWellFormedId(*id) || !call.ctx.store.deletePlaylist(call.userId(), *id))
        return fail(call, kNotFound, "playlist not found");
    reply(call, okResponse());
}

// Stars name songs (id), albums (albumId) and artists (artistId) of the caller.
void annotate(Call &call, bool starred) {
    std::vector<std::string> items;
    for (const char *name : {"id", "albumId", "artistId"}) {
        for (auto &id : call.params(name))
            items.push_back(std::move(id));
    }
    if (items.empty())
        return fail(call, kMissingParameter, "required parameter \"id\" is missing");
    if (!withinIdCap(call, items.size()))
        return;
    // An ID named twice is looked up and starred once.
    std::sort(items.begin(), items.end());
    items.erase(std::unique(items.begin(), items.end()), items.end());
    for (const auto &id : items) {
        if (!isKnownItem(call, id))
            return fail(call, kNotFound, "nothing to star with that ID");
    }
    for (const auto &id : items)
        call.ctx.store.setStarred(call.userId(), id, starred);
    reply(call, okResponse());
}

// A song's, album's or artist's rating, 1 to 5; 0 removes it.
void setRating(Call &call) {
    const auto id = required(call, "id");
    const auto given = id ? required(call, "rating") : std::nullopt;
    if (!given)
        return;
    const auto rating = number(call, "rating", 0, -1, 6);
    if (!rating)
        return;
    if (*rating < 0 || *rating > 5)
        return fail(call, kGeneric, "a rating is 0 to 5");
    if (!isKnownItem(call, *id))
        return fail(call, kNotFound, "nothing to rate with that ID");
    call.ctx.store.setRating(call.userId(), *id, *rating);
    reply(call, okResponse());
}

void star(Call &call) {
    annotate(call, true);
}

void unstar(Call &call) {
    annotate(call, false);
}

void scrobble(Call &call) {
    const auto ids = call.params("id");
    if (ids.empty())
        return fail(call, kMissingParameter, "required parameter \"id\" is missing");
    if (!withinIdCap(call, ids.size()))
        return;
    const auto times = call.params("time");
    const auto media = mediaIdsOf(call, ids);
    if (!media)
        return;
    // Only a finished play counts; a "now playing" notice says what plays.
    if (!call.flag("submission", true)) {
        notePlaying(call, media->back());
        return reply(call, okResponse());
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> plays;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        std::int64_t when = nowMs();
        if (i < times.size()) {
            std::int64_t t = 0;
            const auto [ptr, ec] =
                std::from_chars(times[i].data(), times[i].data() + times[i].size(), t);
            if (ec == std::errc() && ptr == times[i].data() + times[i].size() && t > 0)
                when = t;
        }
        plays.emplace_back((*media)[i], when);
    }
    for (const auto &[item, when] : plays)
        call.ctx.store.addPlay(call.userId(), item, when);
    reply(call, okResponse());
}

} // namespace

void addPlaylistMethods(Methods &m) {
    m["getPlaylists"] = getPlaylists;
    m["getPlaylist"] = getPlaylist;
    m["createPlaylist"] = createPlaylist;
    m["updatePlaylist"] = updatePlaylist;
    m["deletePlaylist"] = deletePlaylist;
}

void addAnnotationMethods(Methods &m) {
    m["star"] = star;
    m["unstar"] = unstar;
    m["scrobble"] = scrobble;
    m["setRating"] = setRating;
}

} // namespace cloud::subsonic
