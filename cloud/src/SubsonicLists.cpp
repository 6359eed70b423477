// Lists: albums by the orders players offer, random songs, songs of a genre,
// search and what is starred.
#include "Subsonic.h"

namespace cloud::subsonic {

namespace {

constexpr int kMaxListSize = 500;

std::optional<AlbumOrder> orderOf(const std::string &type) {
    static const std::map<std::string, AlbumOrder> orders = {
        {"random", AlbumOrder::Random},
        {"newest", AlbumOrder::Newest},
        {"frequent", AlbumOrder::Frequent},
        {"highest", AlbumOrder::Highest},
        {"recent", AlbumOrder::Recent},
        {"alphabeticalByName", AlbumOrder::ByName},
        {"alphabeticalByArtist", AlbumOrder::ByArtist},
        {"starred", AlbumOrder::Starred},
        {"byYear", AlbumOrder::ByYear},
        {"byGenre", AlbumOrder::ByGenre},
    };
    const auto it = orders.find(type);
    if (it == orders.end())
        return std::nullopt;
    return it->second;
}

// The folder-style methods (getAlbumList, search2, getStarred) and their ID3
// forms differ only in the names and shapes of what they list.
struct Shapes {
    const char *albumList;
    const char *searchResult;
    const char *starred;
    void (*album)(Element &, const Album &);
    void (*artist)(Element &, const Artist &);
};
void describeAlbum(Element &e, const Album &a) {
    describe(e, a);
}
void describeArtist(Element &e, const Artist &a) {
    describe(e, a);
}
constexpr Shapes kId3{"albumList2", "searchResult3", "starred2", describeAlbum, describeArtist};
constexpr Shapes kFolders{"albumList", "searchResult2", "starred", describeDirectory,
                          describeIndexEntry};

void albumList(Call &call, const Shapes &shapes) {
    const auto type = required(call, "type");
    if (!type)
        return;
    const auto order = orderOf(*type);
    if (!order)
        return fail(call, kGeneric, "unknown list type \"" + *type + "\"");
    const auto size = number(call, "size", 10, 0, kMaxListSize);
    const auto offset = size ? number(call, "offset", 0, 0, 1 << 30) : std::nullopt;
    if (!size || !offset)
        return;
    AlbumQuery q;
    q.order = *order;
    q.limit = *size;
    q.offset = *offset;
    if (*order == AlbumOrder::ByYear) {
        const auto from = required(call, "fromYear");
        const auto to = from ? required(call, "toYear") : std::nullopt;
        if (!to)
            return;
        const auto fromYear = number(call, "fromYear", 0, 0, 9999);
        const auto toYear = fromYear ? number(call, "toYear", 0, 0, 9999) : std::nullopt;
        if (!toYear)
            return;
        q.fromYear = *fromYear;
        q.toYear = *toYear;
    }
    if (*order == AlbumOrder::ByGenre) {
        const auto genre = required(call, "genre");
        if (!genre)
            return;
        q.genre = *genre;
    }
    Element ok = okResponse();
    Element &list = ok.child(shapes.albumList);
    list.list("album");
    for (const auto &album : call.ctx.store.albums(call.userId(), q))
        shapes.album(list.item("album"), album);
    reply(call, ok);
}

void getAlbumList(Call &call) {
    albumList(call, kFolders);
}

void getAlbumList2(Call &call) {
    albumList(call, kId3);
}

void getRandomSongs(Call &call) {
    const auto size = number(call, "size", 10, 0, kMaxListSize);
    const auto from = size ? number(call, "fromYear", 0, 0, 9999) : std::nullopt;
    const auto to = from ? number(call, "toYear", 9999, 0, 9999) : std::nullopt;
    if (!to)
        return;
    SongQuery q;
    q.random = true;
    q.limit = *size;
    q.genre = call.param("genre").value_or("");
    if (call.param("fromYear"))
        q.fromYear = *from;
    if (call.param("toYear"))
        q.toYear = *to;
    Element ok = okResponse();
    Element &list = ok.child("randomSongs");
    list.list("song");
    for (const auto &song : call.ctx.store.songs(call.userId(), q))
        describe(list.item("song"), song);
    reply(call, ok);
}

void getSongsByGenre(Call &call) {
    const auto genre = required(call, "genre");
    if (!genre)
        return;
    const auto count = number(call, "count", 10, 0, kMaxListSize);
    const auto offset = count ? number(call, "offset", 0, 0, 1 << 30) : std::nullopt;
    if (!offset)
        return;
    SongQuery q;
    q.genre = *genre;
    q.limit = *count;
    q.offset = *offset;
    Element ok = okResponse();
    Element &list = ok.child("songsByGenre");
    list.list("song");
    for (const auto &song : call.ctx.store.songs(call.userId(), q))
        describe(list.item("song"), song);
    reply(call, ok);
}

// Players ask with an empty query (or "") to list the whole library page by page.
std::string searchText(std::string query) {
    if (query == "\"\"")
        query.clear();
    while (!query.empty() && (query.back() == '*' || query.back() == ' '))
        query.pop_back();
    while (!query.empty() && query.front() == ' ')
        query.erase(0, 1);
    return query;
}

void search(Call &call, const Shapes &shapes) {
    const auto query = call.param("query");
    if (!query)
        return fail(call, kMissingParameter, "required parameter \"query\" is missing");
    const auto artistCount = number(call, "artistCount", 20, 0, kMaxListSize);
    const auto artistOffset =
        artistCount ? number(call, "artistOffset", 0, 0, 1 << 30) : std::nullopt;
    const auto albumCount =
        artistOffset ? number(call, "albumCount", 20, 0, kMaxListSize) : std::nullopt;
    const auto albumOffset = albumCount ? number(call, "albumOffset", 0, 0, 1 << 30) : std::nullopt;
    const auto songCount =
        albumOffset ? number(call, "songCount", 20, 0, kMaxListSize) : std::nullopt;
    const auto songOffset = songCount ? number(call, "songOffset", 0, 0, 1 << 30) : std::nullopt;
    if (!songOffset)
        return;
    const std::string text = searchText(*query);
    Element ok = okResponse();
    Element &result = ok.child(shapes.searchResult);
    result.list("artist");
    result.list("album");
    result.list("song");
    if (*artistCount > 0) {
        ArtistQuery q;
        q.text = text;
        q.limit = *artistCount;
        q.offset = *artistOffset;
        for (const auto &a : call.ctx.store.artists(call.userId(), q))
            shapes.artist(result.item("artist"), a);
    }
    if (*albumCount > 0) {
        AlbumQuery q;
        q.text = text;
        q.limit = *albumCount;
        q.offset = *albumOffset;
        for (const auto &a : call.ctx.store.albums(call.userId(), q))
            shapes.album(result.item("album"), a);
    }
    if (*songCount > 0) {
        SongQuery q;
        q.text = text;
        q.addedOrder = true; // pages of a whole-library listing must not shift
        q.limit = *songCount;
        q.offset = *songOffset;
        for (const auto &s : call.ctx.store.songs(call.userId(), q))
            describe(result.item("song"), s);
    }
    reply(call, ok);
}

void search2(Call &call) {
    search(call, kFolders);
}

void search3(Call &call) {
    search(call, kId3);
}

void starred(Call &call, const Shapes &shapes) {
    Element ok = okResponse();
    Element &starred = ok.child(shapes.starred);
    starred.list("artist");
    starred.list("album");
    starred.list("song");
    ArtistQuery artists;
    artists.starredOnly = true;
    for (const auto &a : call.ctx.store.artists(call.userId(), artists))
        shapes.artist(starred.item("artist"), a);
    AlbumQuery albums;
    albums.order = AlbumOrder::Starred;
    for (const auto &a : call.ctx.store.albums(call.userId(), albums))
        shapes.album(starred.item("album"), a);
    SongQuery songs;
    songs.starredOnly = true;
    songs.limit = 100000;
    for (const auto &s : call.ctx.store.songs(call.userId(), songs))
        describe(starred.item("song"), s);
    reply(call, ok);
}

void getStarred(Call &call) {
    starred(call, kFolders);
}

void getStarred2(Call &call) {
    starred(call, kId3);
}

} // namespace

void addListMethods(Methods &m) {
    m["getAlbumList"] = getAlbumList;
    m["getAlbumList2"] = getAlbumList2;
    m["search2"] = search2;
    m["getRandomSongs"] = getRandomSongs;
    m["getSongsByGenre"] = getSongsByGenre;
    m["search3"] = search3;
    m["getStarred"] = getStarred;
    m["getStarred2"] = getStarred2;
}

} // namespace cloud::subsonic
