// Browsing: the one music folder, artists (by album artist) with their
// albums, albums with their songs, genres, and the folder-style view of the
// same for players that browse by directory.
#include "Subsonic.h"

#include <cctype>

namespace cloud::subsonic {

namespace {

constexpr const char *kFolderName = "Music";

std::string indexLetter(const std::string &name) {
    const auto c = name.empty() ? '#' : static_cast<unsigned char>(name.front());
    return std::isalpha(c) ? std::string(1, static_cast<char>(std::toupper(c))) : "#";
}

// Artists grouped by first letter, the shape getIndexes and getArtists share.
void addIndex(Element &parent, const std::vector<Artist> &artists, bool full) {
    parent.list("index");
    Element *index = nullptr;
    std::string letter;
    for (const auto &a : artists) {
        const std::string l = indexLetter(a.name);
        if (!index || l != letter) {
            letter = l;
            index = &parent.item("index");
            index->set("name", letter);
        }
        Element &e = index->item("artist");
        if (full) {
            describe(e, a);
        } else {
            e.set("id", a.id).set("name", a.name);
            if (a.starredMs > 0)
                e.set("starred", isoTime(a.starredMs));
        }
    }
}

std::optional<Artist> findArtist(Call &call, const std::string &id) {
    if (!isWellFormedId(id) || id.rfind("ar", 0) != 0)
        return std::nullopt;
    ArtistQuery q;
    q.id = id;
    auto found = call.ctx.store.artists(call.userId(), q);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

std::optional<Album> findAlbum(Call &call, const std::string &id) {
    if (!isWellFormedId(id) || id.rfind("al", 0) != 0)
        return std::nullopt;
    AlbumQuery q;
    q.id = id;
    auto found = call.ctx.store.albums(call.userId(), q);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

std::vector<Album> albumsOf(Call &call, const std::string &artistId) {
    AlbumQuery q;
    q.artistId = artistId;
    q.order = AlbumOrder::ByYear;
    q.fromYear = 0;
    q.toYear = 9999;
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
        for (const auto &album : albumsOf(call, artist->id)) {
            Element &c = dir.item("child");
            c.set("id", album.id)
                .set("parent", artist->id)
                .set("isDir", true)
                .set("title", album.name)
                .set("album", album.name)
                .set("artist", album.artist);
            if (!album.coverSongId.empty())
                c.set("coverArt", album.id);
            if (album.year > 0)
                c.set("year", album.year);
        }
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
