// The answers of the player API's methods that players rely on, read through
// the npm client subsonic-api and checked field by field, in JSON and in XML,
// against the shapes the API documents: every documented field of the right
// type, the required ones present, and nothing else.
// Usage: node shapes.mjs URL USER PASSWORD API_KEY
import assert from "node:assert/strict";
import { SubsonicAPI } from "subsonic-api";

const [url, username, password, apiKey] = process.argv.slice(2);
const api = new SubsonicAPI({ url, auth: { username, password } });
const byKey = new SubsonicAPI({ url, auth: { apiKey } });

// Field types. A list may be left out of XML when it is empty: XML cannot
// tell an empty list from none.
const S = { kind: "string" };
const I = { kind: "int" };
const B = { kind: "bool" };
const D = { kind: "date" };
const opt = (t) => ({ ...t, optional: true });
const list = (of) => ({ kind: "list", of });
// A text element of its own in XML (artistInfo's biography …), a member in JSON.
const textChild = (t) => ({ ...t, element: true });

const child = {
  id: S, parent: opt(S), isDir: B, title: S, album: opt(S), artist: opt(S), track: opt(I),
  year: opt(I), genre: opt(S), coverArt: opt(S), size: opt(I), contentType: opt(S),
  suffix: opt(S), duration: opt(I), bitRate: opt(I), path: opt(S), discNumber: opt(I),
  created: opt(D), albumId: opt(S), artistId: opt(S), type: opt(S), mediaType: opt(S),
  playCount: opt(I), played: opt(D), starred: opt(D), userRating: opt(I),
};
const indexArtist = { id: S, name: S, starred: opt(D), userRating: opt(I), artistImageUrl: opt(S) };
const artistId3 = {
  id: S, name: S, coverArt: opt(S), albumCount: opt(I), starred: opt(D), userRating: opt(I),
  artistImageUrl: opt(S),
};
const albumId3 = {
  id: S, name: S, artist: opt(S), artistId: opt(S), coverArt: opt(S), songCount: I, duration: I,
  playCount: opt(I), created: D, starred: opt(D), year: opt(I), genre: opt(S), played: opt(D),
  userRating: opt(I),
};
const info = {
  musicBrainzId: opt(textChild(S)), lastFmUrl: opt(textChild(S)),
  smallImageUrl: opt(textChild(S)), mediumImageUrl: opt(textChild(S)),
  largeImageUrl: opt(textChild(S)),
};
const artistInfo = (artist) => ({ biography: opt(textChild(S)), ...info, similarArtist: list(artist) });
const songs = { song: list(child) };
const scanStatus = { scanning: B, count: opt(I), folderCount: opt(I), lastScan: opt(D) };
const envelope = { status: S, version: S, type: S, serverVersion: S, openSubsonic: B };

const isoDate = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z$/;

function checkScalar(t, value, where, fromXml) {
  if (fromXml) {
    assert.equal(typeof value, "string", where);
    if (t.kind === "int") assert.match(value, /^-?\d+$/, where);
    if (t.kind === "bool") assert.match(value, /^(true|false)$/, where);
    if (t.kind === "date") assert.match(value, isoDate, where);
    return;
  }
  if (t.kind === "string") assert.equal(typeof value, "string", where);
  if (t.kind === "int") assert.ok(Number.isInteger(value), `${where}: ${value}`);
  if (t.kind === "bool") assert.equal(typeof value, "boolean", where);
  if (t.kind === "date") assert.match(value, isoDate, where);
}

function checkJson(shape, value, where) {
  assert.equal(typeof value, "object", where);
  for (const key of Object.keys(value))
    assert.ok(key in shape, `${where}: "${key}" is no documented field`);
  for (const [key, t] of Object.entries(shape)) {
    const at = `${where}.${key}`;
    if (!(key in value)) {
      assert.ok(t.optional, `${at} is missing`);
      continue;
    }
    if (t.kind === "list") {
      assert.ok(Array.isArray(value[key]), `${at} is not a list`);
      value[key].forEach((v, i) =>
        t.of.kind ? checkScalar(t.of, v, `${at}[${i}]`, false) : checkJson(t.of, v, `${at}[${i}]`));
    } else if (t.kind) {
      checkScalar(t, value[key], at, false);
    } else {
      checkJson(t, value[key], at);
    }
  }
}

// XML as elements { name, attrs, children, text }: the API's answers use
// nothing more (no comments, CDATA or mixed content).
function parseXml(text) {
  const decode = (s) =>
    s.replace(/&(lt|gt|quot|apos|amp);/g, (_, e) => ({ lt: "<", gt: ">", quot: '"', apos: "'", amp: "&" })[e]);
  const tags = /<(\/?)([\w-]+)((?:\s+[\w:-]+="[^"]*")*)\s*(\/?)>|([^<]+)/g;
  const root = { children: [] };
  const stack = [root];
  for (const m of text.replace(/^<\?xml[^>]*\?>\s*/, "").matchAll(tags)) {
    const top = stack[stack.length - 1];
    if (m[5] !== undefined) {
      top.text = (top.text || "") + decode(m[5]);
    } else if (m[1]) {
      assert.equal(stack.pop().name, m[2], "mismatched end tag");
    } else {
      const attrs = {};
      for (const a of m[3].matchAll(/([\w:-]+)="([^"]*)"/g)) attrs[a[1]] = decode(a[2]);
      const e = { name: m[2], attrs, children: [] };
      top.children.push(e);
      if (!m[4]) stack.push(e);
    }
  }
  assert.equal(stack.length, 1, "unclosed elements");
  return root.children[0];
}

function checkXml(shape, e, where) {
  for (const key of Object.keys(e.attrs)) {
    const t = shape[key];
    assert.ok(t && t.kind && t.kind !== "list" && !t.element, `${where}: attribute "${key}" is no documented field`);
    checkScalar(t, e.attrs[key], `${where}@${key}`, true);
  }
  for (const c of e.children) {
    const t = shape[c.name];
    assert.ok(t && !(t.kind && t.kind !== "list" && !t.element), `${where}: element <${c.name}> is no documented field`);
    if (t.element) checkScalar(t, c.text || "", `${where}/${c.name}`, true);
    else if (t.kind === "list" && t.of.kind) checkScalar(t.of, c.text || "", `${where}/${c.name}`, true);
    else checkXml(t.kind === "list" ? t.of : t, c, `${where}/${c.name}`);
  }
  const singles = e.children.filter((c) => shape[c.name].kind !== "list").map((c) => c.name);
  assert.equal(new Set(singles).size, singles.length, `${where}: a single element came more than once`);
  if ("value" in shape && !shape.value.optional) assert.ok(e.text !== undefined, `${where}: no text`);
  for (const [key, t] of Object.entries(shape)) {
    if (t.optional || t.kind === "list" || key === "value") continue;
    const there = key in e.attrs || e.children.some((c) => c.name === key);
    assert.ok(there, `${where}: ${key} is missing`);
  }
}

// Calls the method in JSON and XML; checks both against `shape`, the
// answer's member beside the envelope (or none); returns the JSON answer's.
// `between` runs between the two calls (to undo what the first did).
const checked = new Set();
async function check(method, params, key, shape, { client = api, between } = {}) {
  checked.add(method);
  const json = await client.customJSON(`${method}.view`, params);
  assert.equal(json.status, "ok", `${method}: ${JSON.stringify(json)}`);
  checkJson(key ? { ...envelope, [key]: shape } : envelope, json, method);
  if (between) await between();
  const reply = await client.custom(`${method}.view`, { ...params, f: "xml" });
  assert.match(reply.headers.get("content-type"), /^text\/xml/);
  const xml = parseXml(await reply.text());
  assert.equal(xml.name, "subsonic-response");
  assert.equal(xml.attrs.status, "ok", `${method} (XML): ${JSON.stringify(xml.children)}`);
  checkXml(key ? { ...envelope, xmlns: S, [key]: shape } : { ...envelope, xmlns: S }, xml, `${method} (XML)`);
  assert.equal(xml.attrs.status, "ok");
  return key ? json[key] : json;
}

// The library the test server holds: songs with a cover, by artist.
const everything = await check("search3", { query: "" }, "searchResult3",
  { artist: list(artistId3), album: list(albumId3), song: list(child) });
const [first, second] = everything.song;
assert.ok(first && second, "the library has two songs at least");

const extensions = await check("getOpenSubsonicExtensions", {}, "openSubsonicExtensions", list({ name: S, versions: list(I) }));
for (const name of ["apiKeyAuthentication", "formPost", "transcodeOffset", "songLyrics"])
  assert.deepEqual(extensions.find((e) => e.name === name)?.versions, [1], name);
const user = await check("getUser", { username }, "user", {
  username: S, email: opt(S), scrobblingEnabled: B, maxBitRate: opt(I), adminRole: B,
  settingsRole: B, downloadRole: B, uploadRole: B, playlistRole: B, coverArtRole: B,
  commentRole: B, podcastRole: B, streamRole: B, jukeboxRole: B, shareRole: B,
  videoConversionRole: B, avatarLastChanged: opt(D), folder: list(I),
});
assert.deepEqual(user.folder, [1]);
assert.equal((await check("tokenInfo", {}, "tokenInfo", { username: S }, { client: byKey })).username, username);

// What the library's notes would hold: nothing, in the documented shapes.
await check("getArtistInfo", { id: first.artistId }, "artistInfo", artistInfo(indexArtist));
await check("getArtistInfo2", { id: first.artistId }, "artistInfo2", artistInfo(artistId3));
await check("getAlbumInfo", { id: first.albumId }, "albumInfo", { notes: opt(textChild(S)), ...info });
await check("getAlbumInfo2", { id: first.albumId }, "albumInfo", { notes: opt(textChild(S)), ...info });
await check("getSimilarSongs", { id: first.id }, "similarSongs", songs);
await check("getSimilarSongs2", { id: first.artistId }, "similarSongs2", songs);
await check("getLyrics", { artist: first.artist, title: first.title }, "lyrics",
  { artist: opt(S), title: opt(S), value: opt(S) });
const line = { start: opt(I), value: S };
await check("getLyricsBySongId", { id: first.id }, "lyricsList", {
  structuredLyrics: list({ displayArtist: opt(S), displayTitle: opt(S), lang: S, offset: opt(I), synced: B, line: list(line) }),
});
assert.deepEqual((await check("getInternetRadioStations", {}, "internetRadioStations", {
  internetRadioStation: list({ id: S, name: S, streamUrl: S, homePageUrl: opt(S) }),
})).internetRadioStation, []);
for (const method of ["getScanStatus", "startScan"]) {
  const status = await check(method, {}, "scanStatus", scanStatus);
  assert.equal(status.scanning, false);
  assert.equal(status.count, everything.song.length);
}

// The queue, saved by this player and read back.
await check("savePlayQueue", { id: [first.id, second.id], current: second.id, position: 12345 }, null);
const queue = await check("getPlayQueue", {}, "playQueue",
  { current: opt(S), position: opt(I), username: S, changed: D, changedBy: S, entry: list(child) });
assert.deepEqual([queue.current, queue.position, queue.username, queue.changedBy],
  [second.id, 12345, username, "subsonic-api"]);
assert.deepEqual(queue.entry.map((e) => e.id), [first.id, second.id]);

// Bookmarks.
await check("createBookmark", { id: second.id, position: 4000, comment: "chorus" }, null);
const { bookmark } = await check("getBookmarks", {}, "bookmarks", {
  bookmark: list({ position: I, username: S, comment: opt(S), created: D, changed: D, entry: child }),
});
assert.deepEqual(bookmark.map((b) => [b.entry.id, b.position, b.comment]), [[second.id, 4000, "chorus"]]);
await check("deleteBookmark", { id: second.id }, null, null, {
  between: () => api.createBookmark({ id: second.id, position: 1 }) });
assert.deepEqual((await api.getBookmarks()).bookmarks.bookmark, []);

// Ratings, stars and plays, and the lists they make.
await check("setRating", { id: first.id, rating: 4 }, null);
await check("setRating", { id: first.albumId, rating: 5 }, null);
assert.equal((await api.getSong({ id: first.id })).song.userRating, 4);
const highest = await check("getAlbumList", { type: "highest" }, "albumList", { album: list(child) });
assert.deepEqual(highest.album.map((a) => [a.id, a.isDir, a.userRating]), [[first.albumId, true, 5]]);
await check("setRating", { id: first.albumId, rating: 0 }, null);
await check("star", { id: second.id, artistId: first.artistId }, null);
const starred = await check("getStarred", {}, "starred",
  { artist: list(indexArtist), album: list(child), song: list(child) });
assert.deepEqual(starred.song.map((s) => s.id), [second.id]);
assert.deepEqual(starred.artist.map((a) => a.id), [first.artistId]);
await check("unstar", { id: second.id, artistId: first.artistId }, null);
const found = await check("search2", { query: first.title }, "searchResult2",
  { artist: list(indexArtist), album: list(child), song: list(child) });
assert.ok(found.song.some((s) => s.id === first.id));

await check("scrobble", { id: second.id, submission: "false" }, null);
const playing = await check("getNowPlaying", {}, "nowPlaying", {
  entry: list({ ...child, username: S, minutesAgo: I, playerId: I, playerName: opt(S) }),
});
assert.deepEqual(playing.entry.filter((e) => e.playerName === "subsonic-api").map((e) => [e.id, e.username]),
  [[second.id, username]]);
await check("scrobble", { id: second.id }, null);
const top = await check("getTopSongs", { artist: second.artist, count: 5 }, "topSongs", songs);
assert.equal(top.song[0].id, second.id);

// Left as found, for the tests after this one.
await check("savePlayQueue", {}, null);
await check("setRating", { id: first.id, rating: 0 }, null);
console.log(`checked the shapes of ${checked.size} methods`);
