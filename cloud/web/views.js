// The library's views, each made of the music-player API's answers. A view is
// a function that resolves to the elements of the page.
import { $, announce, ask, clock, coverUrl, el, rest, web } from './api.js';
import * as player from './player.js';
import { addToPlaylist, focusHandleAfterDrawing, newPlaylist, songList, toggleStar } from './songs.js';

const PAGE = 500;

const heading = (text) => el('h2', { tabindex: '-1' }, text);
const empty = (text) => el('p', { class: 'empty' }, text);
const report = (error) => announce(error.message);

function albumGrid(albums) {
  return el('ul', { class: 'grid' }, albums.map((album) => el('li', {},
    el('a', { href: `#/album/${album.id}` },
      el('img', { src: coverUrl(album.coverArt, 300), alt: '', loading: 'lazy', width: 300, height: 300 }),
      el('span', { class: 'title' }, album.name || '(no album)'),
      el('span', { class: 'sub' }, [album.artist, album.year].filter(Boolean).join(' · '))))));
}

function songCount(songs) {
  const seconds = songs.reduce((sum, s) => sum + (s.duration || 0), 0);
  return `${songs.length} ${songs.length === 1 ? 'song' : 'songs'} · ${clock(seconds)}`;
}

// The buttons above a list of songs.
function listActions(songs, ...more) {
  return el('div', { class: 'actions' },
    el('button', { type: 'button', class: 'primary', onclick: () => player.playAll(songs) }, 'Play all'),
    el('button', { type: 'button', onclick: () => player.playNext(songs) }, 'Play next'),
    el('button', { type: 'button', onclick: () => player.enqueue(songs) }, 'Add to the queue'),
    ...more);
}

// Lists grow page by page; "More" fetches the next one.
function paged(title, load, render, emptyText = 'Your library is empty.') {
  const list = el('div', {});
  const more = el('button', { type: 'button', hidden: true }, 'More');
  let offset = 0;
  const next = async () => {
    const items = await load(offset);
    offset += items.length;
    list.append(render(items));
    more.hidden = items.length < PAGE;
    if (offset === 0) list.append(empty(emptyText));
  };
  more.addEventListener('click', () => next().catch(report));
  return next().then(() => [heading(title), list, more]);
}

const albumList = (params) => async (offset) => {
  const answer = await rest('getAlbumList2', { size: PAGE, offset, ...params });
  return (answer.albumList2 && answer.albumList2.album) || [];
};

// --- artists, albums, songs, search --------------------------------------------------

export async function artistsView() {
  const answer = await rest('getArtists');
  const groups = (answer.artists && answer.artists.index) || [];
  const artists = groups.flatMap((g) => g.artist || []);
  return [heading('Artists'), artists.length === 0 ? empty('Your library is empty.')
    : el('ul', { class: 'plain' }, artists.map((a) => el('li', {},
      el('a', { href: `#/artist/${a.id}` }, a.name || '(unknown artist)'),
      ` · ${a.albumCount} ${a.albumCount === 1 ? 'album' : 'albums'}`)))];
}

export async function artistView(id) {
  const answer = await rest('getArtist', { id });
  return [heading(answer.artist.name || '(unknown artist)'), albumGrid(answer.artist.album || [])];
}

export const albumsView = () => paged('Albums', albumList({ type: 'alphabeticalByName' }), albumGrid);

export function songsView() {
  return paged('Songs', async (offset) => {
    const answer = await rest('search3', {
      query: '', artistCount: 0, albumCount: 0, songCount: PAGE, songOffset: offset,
    });
    return (answer.searchResult3 && answer.searchResult3.song) || [];
  }, (songs) => songList(songs));
}

export async function albumView(id) {
  const album = (await rest('getAlbum', { id })).album;
  const songs = album.song || [];
  const star = el('button', {
    type: 'button', 'aria-pressed': String(Boolean(album.starred)),
    onclick: () => toggleStar(album, 'albumId').then((on) => star.setAttribute('aria-pressed', String(on)))
      .catch(report),
  }, '\u2605 Favourite');
  return [
    el('div', { class: 'album-head' },
      el('img', { src: coverUrl(album.coverArt, 400), alt: `Cover of ${album.name}`, width: 400, height: 400 }),
      el('div', {}, heading(album.name || '(no album)'),
        el('p', {}, album.artistId ? el('a', { href: `#/artist/${album.artistId}` }, album.artist) : album.artist,
          album.year ? [' · ', el('a', { href: `#/years/${album.year}-${album.year}` }, String(album.year))] : '',
          album.genre ? [' · ', el('a', { href: `#/genre/${encodeURIComponent(album.genre)}` }, album.genre)] : '',
          ` · ${songCount(songs)}`))),
    listActions(songs, star,
      el('button', { type: 'button', onclick: () => addToPlaylist(songs).catch(report) }, 'Add to a playlist…')),
    songList(songs, { numbered: true }),
  ];
}

export async function searchView(query) {
  $('query').value = query;
  const answer = (await rest('search3', { query, artistCount: 20, albumCount: 20, songCount: 100 }))
    .searchResult3 || {};
  const artists = answer.artist || [];
  const albums = answer.album || [];
  const songs = answer.song || [];
  const parts = [heading(`Search: ${query}`)];
  if (!artists.length && !albums.length && !songs.length) parts.push(empty('Nothing found.'));
  if (artists.length) {
    parts.push(el('h3', {}, 'Artists'), el('ul', { class: 'plain' }, artists.map((a) =>
      el('li', {}, el('a', { href: `#/artist/${a.id}` }, a.name)))));
  }
  if (albums.length) parts.push(el('h3', {}, 'Albums'), albumGrid(albums));
  if (songs.length) parts.push(el('h3', {}, 'Songs'), songList(songs));
  return parts;
}

// --- playlists --------------------------------------------------------------------

export async function playlistsView() {
  const lists = (await rest('getPlaylists')).playlists.playlist || [];
  const make = el('button', {
    type: 'button', class: 'primary',
    onclick: () => newPlaylist().then((p) => { if (p) location.hash = `#/playlist/${p.id}`; }).catch(report),
  }, 'New playlist');
  return [heading('Playlists'), el('div', { class: 'actions' }, make),
    lists.length === 0 ? empty('No playlists yet. Make one here, or add songs to one from their menu.')
      : el('ul', { class: 'plain', id: 'playlists' }, lists.map((p) => el('li', {},
        el('a', { href: `#/playlist/${p.id}` }, p.name),
        ` · ${p.songCount} ${p.songCount === 1 ? 'song' : 'songs'} · ${clock(p.duration)}`)))];
}

export async function playlistView(id, refresh) {
  const list = (await rest('getPlaylist', { id })).playlist;
  const songs = list.entry || [];
  const rename = async () => {
    const form = await ask('Rename the playlist', [
      el('label', { for: 'ask-name' }, 'Name'),
      el('input', { id: 'ask-name', name: 'name', required: true, maxlength: '256', value: list.name }),
    ], 'Rename');
    if (!form) return;
    await rest('updatePlaylist', { playlistId: id, name: form.get('name') });
    refresh();
  };
  const remove = async () => {
    if (!window.confirm(`Delete the playlist “${list.name}”? Its songs stay in the library.`)) return;
    await rest('deletePlaylist', { id });
    announce(`Playlist “${list.name}” deleted.`);
    location.hash = '#/playlists';
  };
  // A move sends the whole new order, which the API keeps as it is given.
  const move = async (from, to, { keyboard }) => {
    const order = songs.slice();
    order.splice(to, 0, ...order.splice(from, 1));
    if (keyboard) focusHandleAfterDrawing(to);
    await rest('createPlaylist', { playlistId: id, songId: order.map((s) => s.id) }).catch(report);
    await refresh();
  };
  return [heading(list.name),
    el('p', {}, songCount(songs)),
    listActions(songs,
      el('button', { type: 'button', onclick: () => rename().catch(report) }, 'Rename'),
      el('button', { type: 'button', onclick: () => remove().catch(report) }, 'Delete')),
    songs.length ? songList(songs, {
      move,
      menu: (i) => [['Remove from the playlist', () => rest('updatePlaylist', {
        playlistId: id, songIndexToRemove: i,
      }).then(refresh).catch(report)]],
    }) : empty('This playlist is empty: add songs to it from their menu.')];
}

// --- favourites and the lists of the library --------------------------------------

export async function favouritesView() {
  const starred = (await rest('getStarred2')).starred2 || {};
  const albums = starred.album || [];
  const songs = starred.song || [];
  return [heading('Favourites'),
    albums.length || songs.length ? '' : empty('No favourites yet: star songs from their menu, or albums on their page.'),
    albums.length ? [el('h3', {}, 'Albums'), albumGrid(albums)] : '',
    songs.length ? [el('h3', {}, 'Songs'), listActions(songs), songList(songs)] : ''];
}

const LISTS = {
  newest: 'Recently added',
  frequent: 'Most played',
  recent: 'Recently played',
  random: 'Random albums',
};

export async function exploreView() {
  const shelves = await Promise.all(['newest', 'frequent', 'recent'].map(async (type) => {
    const albums = await albumList({ type, size: 12 })(0);
    return [el('h3', {}, el('a', { href: `#/list/${type}` }, LISTS[type])),
      albums.length ? albumGrid(albums) : empty(type === 'newest' ? 'Your library is empty.' : 'Nothing played yet.')];
  }));
  return [heading('Explore'),
    el('ul', { class: 'links' },
      el('li', {}, el('a', { href: '#/random-songs' }, 'Random songs')),
      el('li', {}, el('a', { href: '#/list/random' }, 'Random albums')),
      el('li', {}, el('a', { href: '#/genres' }, 'Genres')),
      el('li', {}, el('a', { href: '#/years' }, 'Years'))),
    shelves];
}

export const listView = (type) => paged(LISTS[type], albumList({ type }), albumGrid,
  type === 'newest' || type === 'random' ? 'Your library is empty.' : 'Nothing played yet.');

export async function randomSongsView(refresh) {
  const songs = (await rest('getRandomSongs', { size: 50 })).randomSongs.song || [];
  return [heading('Random songs'),
    listActions(songs, el('button', { type: 'button', onclick: () => refresh() }, 'Other songs')),
    songs.length ? songList(songs) : empty('Your library is empty.')];
}

export async function genresView() {
  const genres = ((await rest('getGenres')).genres.genre || [])
    .sort((a, b) => a.value.localeCompare(b.value));
  return [heading('Genres'), genres.length === 0 ? empty('No song of the library names a genre.')
    : el('ul', { class: 'plain', id: 'genres' }, genres.map((g) => el('li', {},
      el('a', { href: `#/genre/${encodeURIComponent(g.value)}` }, g.value),
      ` · ${g.albumCount} ${g.albumCount === 1 ? 'album' : 'albums'}, `
        + `${g.songCount} ${g.songCount === 1 ? 'song' : 'songs'}`)))];
}

export async function genreView(genre) {
  const [albums, songs] = await Promise.all([
    albumList({ type: 'byGenre', genre, size: 100 })(0),
    rest('getSongsByGenre', { genre, count: PAGE }).then((a) => a.songsByGenre.song || []),
  ]);
  return [heading(genre), albums.length ? [el('h3', {}, 'Albums'), albumGrid(albums)] : '',
    el('h3', {}, 'Songs'), listActions(songs), songList(songs)];
}

export function yearsView() {
  const now = new Date().getFullYear();
  const decades = [];
  for (let d = Math.floor(now / 10) * 10; d >= 1920; d -= 10) decades.push(d);
  const from = el('input', { id: 'from-year', name: 'from', type: 'number', min: '0', max: '9999', required: true });
  const to = el('input', { id: 'to-year', name: 'to', type: 'number', min: '0', max: '9999', required: true });
  const form = el('form', { class: 'inline', id: 'years-form' },
    el('label', { for: 'from-year' }, 'From'), from, el('label', { for: 'to-year' }, 'to'), to,
    el('button', { type: 'submit' }, 'Show'));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    location.hash = `#/years/${from.value}-${to.value}`;
  });
  return [heading('Years'), form, el('ul', { class: 'links' }, decades.map((d) =>
    el('li', {}, el('a', { href: `#/years/${d}-${d + 9}` }, `${d}s`))))];
}

export const yearView = (from, to) => paged(from === to ? from : `${from} – ${to}`,
  albumList({ type: 'byYear', fromYear: from, toYear: to }), albumGrid, 'No album of these years.');

// --- the queue ---------------------------------------------------------------------

export function queueView() {
  const entries = player.queue();
  if (entries.length === 0) return [heading('Queue'), empty('The queue is empty.')];
  const move = (from, to, { keyboard }) => {
    if (keyboard) focusHandleAfterDrawing(to);
    player.move(from, to);
  };
  return [heading('Queue'),
    el('p', {}, songCount(entries)),
    el('div', { class: 'actions' },
      el('button', { type: 'button', onclick: () => addToPlaylist(entries).catch(report) }, 'Save as a playlist…'),
      el('button', { type: 'button', onclick: () => player.clear() }, 'Clear the queue')),
    songList(entries, {
      play: (i) => player.playAt(i),
      move,
      menu: (i) => [
        i > 0 ? ['Move up', () => move(i, i - 1, { keyboard: true })] : null,
        i + 1 < entries.length ? ['Move down', () => move(i, i + 1, { keyboard: true })] : null,
        ['Remove from the queue', () => player.remove(i)],
      ],
    })];
}

// --- player passwords: what a phone app needs --------------------------------------

function copyable(label, value, id) {
  const copy = async () => {
    try {
      await navigator.clipboard.writeText(value);
    } catch {
      // Pages on plain HTTP elsewhere than this computer have no clipboard API.
      const field = el('textarea', { class: 'offscreen' }, value);
      document.body.append(field);
      field.select();
      document.execCommand('copy');
      field.remove();
    }
    announce(`${label} copied.`);
  };
  return el('div', { class: 'copyable' },
    el('dt', {}, label),
    el('dd', {}, el('code', { id }, value),
      el('button', { type: 'button', 'aria-label': `Copy the ${label.toLowerCase()}`, onclick: copy }, 'Copy')));
}

const lastUse = (p) => (p.lastUsed ? ` · last used ${new Date(p.lastUsed).toLocaleString()}` : ' · never used');

export async function passwordsView(refresh, user) {
  const list = (await web('player-passwords')).playerPasswords;
  const name = el('input', { id: 'player-name', maxlength: '64', required: true, autocomplete: 'off' });
  const error = el('p', { class: 'error', role: 'alert' });
  const form = el('form', { id: 'player-form', class: 'inline' },
    el('label', { for: 'player-name' }, 'Name (the phone or player it is for)'), name,
    el('button', { type: 'submit', class: 'primary' }, 'Make a player password'), error);
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.textContent = '';
    try {
      const made = await web('player-passwords', { name: name.value });
      await refresh();
      $('setup').after(el('section', { class: 'secret', id: 'new-secret', tabindex: '-1', 'aria-label': 'The new player password' },
        el('p', {}, `The player password “${made.name}”. It is shown only now; make a new one if you lose it.`),
        el('dl', {}, copyable('Password', made.password, 'new-password'),
          copyable('API key', made.apiKey, 'new-api-key'))));
      $('new-secret').focus();
    } catch (e) {
      error.textContent = e.message;
    }
  });
  const rows = list.map((p) => el('li', {}, `${p.name} · made ${new Date(p.created).toLocaleString()}${lastUse(p)} `,
    el('button', {
      type: 'button', 'aria-label': `Revoke ${p.name}`,
      onclick: async () => {
        if (!window.confirm(`Revoke the player password “${p.name}”? Players using it stop working.`)) return;
        await web('player-passwords/remove', { name: p.name }).catch(report);
        refresh();
      },
    }, 'Revoke')));
  return [heading('Player passwords'),
    el('p', {}, 'Music apps on phones and other computers sign in with a player password, '
      + 'never with your account password. Each can be revoked on its own.'),
    el('section', { id: 'setup', 'aria-labelledby': 'setup-title' },
      el('h3', { id: 'setup-title' }, 'Setting up an app'),
      el('dl', {}, copyable('Server address', location.origin, 'server-address'),
        copyable('User name', user.email, 'user-name')),
      el('p', {}, 'Where the app asks for a password, type a player password made below. '
        + 'Apps that offer to sign in with an API key take the API key instead, and need no user name or password.')),
    form,
    list.length ? el('ul', { class: 'plain', id: 'player-passwords' }, rows)
      : empty('No player passwords yet.')];
}

