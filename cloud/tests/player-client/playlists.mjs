// What a third-party client (the npm package subsonic-api) sees of an
// account's playlists: one line per playlist, its name, a tab, and its songs'
// titles in order, separated by " | ".
// Usage: node playlists.mjs URL USER PASSWORD
import { SubsonicAPI } from "subsonic-api";

const [url, username, password] = process.argv.slice(2);
const api = new SubsonicAPI({ url, auth: { username, password } });
const { status, playlists } = await api.getPlaylists();
if (status !== "ok") throw new Error(`getPlaylists answered ${status}`);
for (const { id, name } of playlists.playlist || []) {
  const { playlist } = await api.getPlaylist({ id });
  console.log(`${name}\t${(playlist.entry || []).map((e) => e.title).join(" | ")}`);
}
