// A third-party music-player client (the npm package subsonic-api) browsing,
// searching, editing playlists and stars, streaming and fetching covers.
// Usage: node client.mjs URL USER PASSWORD API_KEY EXPECTED.json
// EXPECTED maps each song title to the path of the file it was made from.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { SubsonicAPI } from "subsonic-api";

const [url, username, password, apiKey, expectedPath] = process.argv.slice(2);
const expected = JSON.parse(readFileSync(expectedPath, "utf8"));

let extraHeaders = {};
const fetchWithHeaders = (input, init = {}) =>
  fetch(input, { ...init, headers: { ...(init.headers || {}), ...extraHeaders } });

const api = new SubsonicAPI({ url, auth: { username, password }, fetch: fetchWithHeaders });
const ok = (answer) => {
  assert.equal(answer.status, "ok", JSON.stringify(answer));
  return answer;
};

ok(await api.ping());

// Artists, their albums, the albums' songs.
const { artists } = ok(await api.getArtists());
const songs = new Map();
for (const index of artists.index) {
  for (const artist of index.artist) {
    const { artist: full } = ok(await api.getArtist({ id: artist.id }));
    assert.equal(full.album.length, artist.albumCount);
    for (const album of full.album) {
      const { album: withSongs } = ok(await api.getAlbum({ id: album.id }));
      assert.equal(withSongs.song.length, album.songCount);
      for (const song of withSongs.song) songs.set(song.title, song);
    }
  }
}
assert.deepEqual([...songs.keys()].sort(), Object.keys(expected).sort());

const { albumList2 } = ok(await api.getAlbumList2({ type: "newest", size: 10 }));
assert.ok(albumList2.album.length >= 1);

const { searchResult3 } = ok(await api.search3({ query: "light" }));
assert.deepEqual(searchResult3.song.map((s) => s.title), ["First Light"]);

// A playlist made, read back and removed.
const first = songs.get("First Light");
const other = songs.get("Old Tune");
const { playlist } = ok(await api.createPlaylist({ name: "From the client", songId: [first.id, other.id] }));
assert.equal(playlist.songCount, 2);
const { playlists } = ok(await api.getPlaylists());
assert.ok(playlists.playlist.some((p) => p.id === playlist.id));
const { playlist: read } = ok(await api.getPlaylist({ id: playlist.id }));
assert.deepEqual(read.entry.map((e) => e.id), [first.id, other.id]);
ok(await api.deletePlaylist({ id: playlist.id }));

// Stars.
ok(await api.star({ id: first.id }));
const { starred2 } = ok(await api.getStarred2());
assert.deepEqual(starred2.song.map((s) => s.id), [first.id]);
ok(await api.unstar({ id: first.id }));

// Every song streams as the stored file; a range is exactly that range.
for (const [title, song] of songs) {
  const original = readFileSync(expected[title]);
  const whole = await api.stream({ id: song.id });
  assert.equal(whole.status, 200);
  assert.equal(whole.headers.get("content-type"), song.contentType);
  assert.ok(Buffer.from(await whole.arrayBuffer()).equals(original), title);
  extraHeaders = { Range: "bytes=3-9" };
  const part = await api.stream({ id: song.id });
  extraHeaders = {};
  assert.equal(part.status, 206);
  assert.ok(Buffer.from(await part.arrayBuffer()).equals(original.subarray(3, 10)), title);
  if (song.coverArt) {
    const cover = await api.getCoverArt({ id: song.coverArt, size: 64 });
    assert.equal(cover.headers.get("content-type"), "image/jpeg");
    const bytes = Buffer.from(await cover.arrayBuffer());
    assert.equal(bytes.readUInt16BE(0), 0xffd8);
  }
}

// The API key scheme, and form posts instead of queries.
const byKey = new SubsonicAPI({ url, auth: { apiKey } });
ok(await byKey.getAlbumList2({ type: "alphabeticalByName" }));
const byPost = new SubsonicAPI({ url, auth: { username, password }, post: true });
assert.equal(ok(await byPost.getSong({ id: first.id })).song.title, "First Light");

// Wrong credentials are refused with the API's code.
const wrong = new SubsonicAPI({ url, auth: { username, password: "not-it" } });
const refused = await wrong.ping();
assert.equal(refused.status, "failed");
assert.equal(refused.error.code, 40);

console.log(`checked ${songs.size} songs`);
