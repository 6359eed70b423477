// Browsing: the one music folder, artists (by album artist) with their
// albums, albums with their songs, genres, and the folder-style view of the
// same for players that browse by directory.
#include "Subsonic.h"
#include "TextFold.h"

#include <algorithm>

namespace cloud::subsonic {

namespace {

constexpr const char *kFolderName = "Music";

// Artists grouped by the letter they file under, accents set aside ("#"
// first, for everything that is no letter), the shape getIndexes and
// getArtists share.
void addIndex(Element &parent, const std::vector<Artist> &artists, bool full) {
    struct Filed {
        std::string letter;
        std::string key;
        const Artist *artist;
    };
    std::vector<Filed> filed;
    filed.reserve(artists.size());
    for (const auto &a : artists)
        filed.push_back({indexLetter(a.name), foldForSorting(a.name), &a});
    std::stable_sort(filed.begin(), filed.end(), [](const Filed &x, const Filed &y) {
        return std::tie(x.letter, x.key) < std::tie(y.letter, y.key);
    });
    parent.list("index");
    Element *index = nullptr;
    const std::string *letter = nullptr;
    for (const auto &f : filed) {
        if (!index || f.letter != *letter) {
            letter = &f.letter;
            index = &parent.item("index");
            index->set("name", f.letter);
        }
        if (full)
            describe(index->item("artist"), *f.artist);
        else
            describeIndexEntry(index->item("artist"), *f.artist);
    }
}

// An album artist's albums; for an artist of songs only (a compilation's
// track artist), the albums holding their songs.
std::vector<Album> albumsOf(Call &call, const std::string &artistId) {
    AlbumQuery q;
    q.artistId = artistId;
    q.order = AlbumOrder::ByYear;
    q.fromYear = 0;
    q.toYear = 9999;
    auto albums = call.ctx.store.albums(call.userId(), q);
    if (!albums.empty())
        return albums;
    q.artistId.clear();
    q.songArtistId = artistId;
    return call.ctx.store.albums(call.userId(), q);
}

std::vector<Song> songsOf(Call &call, const std::string &albumId) {
    SongQuery q;
    q.albumId = albumId;
    q.limit = 100000;
    return call.ctx.store.songs(call.userId(), q);
}

void getMusicFolders(Call &call) {
    Element ok = okResponse();
    ok.child("musicFolders").item("musicFolder").set("id", 1).set("name", kFolderName);
    reply(call, ok);
}

void getIndexes(Call &call) {
    Element ok = okResponse();
    Element &indexes = ok.child("indexes");
    indexes.set("lastModified", call.ctx.store.libraryChangedMs(call.userId()))
        .set("ignoredArticles", "");
    addIndex(indexes, call.ctx.store.artists(call.userId(), {}), false);
    reply(call, ok);
}

void getArtists(Call &call) {
    Element ok = okResponse();
    Element &artists = ok.child("artists");
    artists.set("ignoredArticles", "");
    addIndex(artists, call.ctx.store.artists(call.userId(), {}), true);
    reply(call, ok);
}

void getArtist(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto artist = findArtist(call, *id);
    if (!artist)
        return fail(call, kNotFound, "artist not found");
    Element ok = okResponse();
    Element &e = ok.child("artist");
    describe(e, *artist);
    e.list("album");
    for (const auto &album : albumsOf(call, artist->id))
        describe(e.item("album"), album);
    reply(call, ok);
}

void getAlbum(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto album = findAlbum(call, *id);
    if (!album)
        return fail(call, kNotFound, "album not found");
    Element ok = okResponse();
    Element &e = ok.child("album");
    describe(e, *album);
    e.list("song");
    for (const auto &song : songsOf(call, album->id))
        describe(e.item("song"), song);
    reply(call, ok);
}

void getSong(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    const auto song = findSong(call, *id);
    if (!song)
        return fail(call, kNotFound, "song not found");
    Element ok = okResponse();
    describe(ok.child("song"), *song);
    reply(call, ok);
}

void getGenres(Call &call) {
    Element ok = okResponse();
    Element &genres = ok.child("genres");
    genres.list("genre");
    for (const auto &g : call.ctx.store.genres(call.userId()))
        genres.item("genre")
            .set("songCount", g.songCount)
            .set("albumCount", g.albumCount)
            .setText(g.name);
    reply(call, ok);
}

void getMusicDirectory(Call &call) {
    const auto id = required(call, "id");
    if (!id)
        return;
    Element ok = okResponse();
    Element &dir = ok.child("directory");
    dir.list("child");
    if (const auto artist = findArtist(call, *id)) {
        dir.set("id", artist->id).set("name", artist->name);
        for (const auto &album : albumsOf(call, artist->id))
            describeDirectory(dir.item("child"), album);
        return reply(call, ok);
    }
    if (const auto album = findAlbum(call, *id)) {
        dir.set("id", album->id).set("parent", album->artistId).set("name", album->name);
        for (const auto &song : songsOf(call, album->id))
            describe(dir.item("child"), song);
        return reply(call, ok);
    }
    fail(call, kNotFound, "directory not found");
}

} // namespace

void addBrowsingMethods(Methods &m) {
    m["getMusicFolders"] = getMusicFolders;
    m["getIndexes"] = getIndexes;
    m["getArtists"] = getArtists;
    m["getArtist"] = getArtist;
    m["getAlbum"] = getAlbum;
    m["getSong"] = getSong;
    m["getGenres"] = getGenres;
    m["getMusicDirectory"] = getMusicDirectory;
}

} // namespace cloud::subsonic
