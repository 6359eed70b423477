// What players ask beyond the library itself: notes and pictures of artists
// and albums, similar songs, lyrics. This server knows no more than the
// files' tags, so these answer in the documented shape with what there is
// (often nothing); an ID that names nothing of the caller's is still error 70.
// The top songs of an artist are the caller's own most played.
#include "Subsonic.h"

namespace cloud::subsonic {

namespace {

constexpr int kMaxListSize = 500;

void artistInfo(Call &call, const char *element) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!number(call, "count", 20, 0, kMaxListSize))
        return;
    if (!isKnownItem(call, *id))
        return fail(call, kNotFound, "artist not found");
    Element ok = okResponse();
    ok.child(element).list("similarArtist");
    reply(call, ok);
}

void getArtistInfo(Call &call) {
    artistInfo(call, "artistInfo");
}

void getArtistInfo2(Call &call) {
    artistInfo(call, "artistInfo2");
}

// Both forms answer "albumInfo".
void getAlbumInfo(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!findAlbum(call, *id))
        return fail(call, kNotFound, "album not found");
    Element ok = okResponse();
    ok.child("albumInfo");
    reply(call, ok);
}

void similarSongs(Call &call, const char *element) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!number(call, "count", 50, 0, kMaxListSize))
        return;
    if (!isKnownItem(call, *id))
        return fail(call, kNotFound, "nothing with that ID");
    Element ok = okResponse();
    ok.child(element).list("song");
    reply(call, ok);
}

void getSimilarSongs(Call &call) {
    similarSongs(call, "similarSongs");
}

void getSimilarSongs2(Call &call) {
    similarSongs(call, "similarSongs2");
}

void getTopSongs(Call &call) {
    const auto artist = required(call, "artist");
    if (!artist)
        return;
    const auto count = number(call, "count", 50, 0, kMaxListSize);
    if (!count)
        return;
    SongQuery q;
    q.artist = *artist;
    q.mostPlayed = true;
    q.limit = *count;
    Element ok = okResponse();
    Element &top = ok.child("topSongs");
    top.list("song");
    for (const auto &song : call.ctx.store.songs(call.userId(), q))
        describe(top.item("song"), song);
    reply(call, ok);
}

// No lyrics are kept: an empty answer, as for a song nobody wrote them for.
void getLyrics(Call &call) {
    Element ok = okResponse();
    ok.child("lyrics");
    reply(call, ok);
}

void getLyricsBySongId(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    if (!findSong(call, *id))
        return fail(call, kNotFound, "song not found");
    Element ok = okResponse();
    ok.child("lyricsList").list("structuredLyrics");
    reply(call, ok);
}

} // namespace

void addInfoMethods(Methods &m) {
    m["getArtistInfo"] = getArtistInfo;
    m["getArtistInfo2"] = getArtistInfo2;
    m["getAlbumInfo"] = getAlbumInfo;
    m["getAlbumInfo2"] = getAlbumInfo;
    m["getSimilarSongs"] = getSimilarSongs;
    m["getSimilarSongs2"] = getSimilarSongs2;
    m["getTopSongs"] = getTopSongs;
    m["getLyrics"] = getLyrics;
    m["getLyricsBySongId"] = getLyricsBySongId;
}

} // namespace cloud::subsonic
