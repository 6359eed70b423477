// The web player: signs in with the account's own password (the server keeps
// the session in an HttpOnly cookie), browses through the music-player API
// under /rest/ and plays with the browser's audio element. Every text from
// the library goes into the page as text, never as markup.
'use strict';

const $ = (id) => document.getElementById(id);
const audio = $('audio');
const PAGE = 500;
const state = { user: null, queue: [], index: -1 };

// --- helpers --------------------------------------------------------------

function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node && typeof value !== 'string') node[key] = value;
    else node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

function clock(seconds) {
  const s = Math.max(0, Math.floor(seconds || 0));
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const rest = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${rest}` : `${m}:${rest}`;
}

function coverUrl(id, size) {
  return id ? `/rest/getCoverArt?id=${encodeURIComponent(id)}&size=${size}` : '/web/icon.svg';
}

class SignedOut extends Error {}

async function rest(method, params) {
  const query = new URLSearchParams({ f: 'json', v: '1.16.1', c: 'sonarbox-web', ...params });
  const reply = await fetch(`/rest/${method}?${query}`, { credentials: 'same-origin' });
  const answer = (await reply.json())['subsonic-response'];
  if (answer.status !== 'ok') {
    if (answer.error && answer.error.code === 40) throw new SignedOut(answer.error.message);
    throw new Error(answer.error ? answer.error.message : 'the server refused');
  }
  return answer;
}

async function web(path, body) {
  const init = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  };
  const reply = await fetch(`/web/api/${path}`, { credentials: 'same-origin', ...init });
  const data = await reply.json().catch(() => ({}));
  if (reply.status === 401) throw new SignedOut(data.error || 'not signed in');
  if (!reply.ok) throw new Error(data.error || `the server answered ${reply.status}`);
  return data;
}

// --- sign-in --------------------------------------------------------------

function showSignedIn(user) {
  state.user = user;
  $('signin-view').hidden = true;
  for (const id of ['nav', 'search', 'account', 'signout', 'player']) $(id).hidden = false;
  $('account').textContent = user.email;
}

function showSignIn() {
  state.user = null;
  stop();
  for (const id of ['nav', 'search', 'account', 'signout', 'player', 'view']) $(id).hidden = true;
  $('signin-view').hidden = false;
  $('email').focus();
}

$('signin').addEventListener('submit', async (event) => {
  event.preventDefault();
  $('signin-error').textContent = '';
  try {
    const user = await web('signin', { email: $('email').value, password: $('password').value });
    $('password').value = '';
    showSignedIn(user);
    route();
  } catch (error) {
    $('signin-error').textContent = error.message;
    $('password').select();
  }
});

$('signout').addEventListener('click', async () => {
  await web('signout', {}).catch(() => {});
  showSignIn();
});

// --- views ----------------------------------------------------------------

function songTable(songs, { numbered = false } = {}) {
  const rows = songs.map((song, i) => el('tr', { 'data-id': song.id },
    el('td', { class: 'num' }, numbered && song.track ? song.track : i + 1),
    el('td', {}, el('button', {
      class: 'link', type: 'button', title: 'Play from here',
      onclick: () => playList(songs, i),
    }, song.title || '(untitled)')),
    el('td', {}, song.artist || ''),
    el('td', {}, song.albumId ? el('a', { href: `#/album/${song.albumId}` }, song.album || '') : ''),
    el('td', {}, clock(song.duration)),
    el('td', {}, el('button', {
      type: 'button', 'aria-label': `Add ${song.title || 'the song'} to the queue`,
      onclick: () => enqueue([song]),
    }, '+ Queue'))));
  return el('table', { class: 'songs' },
    el('thead', {}, el('tr', {}, ['#', 'Title', 'Artist', 'Album', 'Length', ''].map((h) =>
      el('th', { scope: 'col' }, h)))),
    el('tbody', {}, rows));
}

function albumGrid(albums) {
  return el('ul', { class: 'grid' }, albums.map((album) => el('li', {},
    el('a', { href: `#/album/${album.id}` },
      el('img', { src: coverUrl(album.coverArt, 300), alt: '', loading: 'lazy' }),
      el('span', { class: 'title' }, album.name || '(no album)'),
      el('span', { class: 'sub' }, [album.artist, album.year].filter(Boolean).join(' · '))))));
}

function heading(text) {
  return el('h2', { tabindex: '-1' }, text);
}

async function artistsView() {
  const answer = await rest('getArtists');
  const groups = (answer.artists && answer.artists.index) || [];
  const artists = groups.flatMap((g) => g.artist || []);
  return [heading('Artists'), artists.length === 0 ? el('p', {}, 'Your library is empty.') :
    el('ul', { class: 'plain' }, artists.map((a) => el('li', {},
      el('a', { href: `#/artist/${a.id}` }, a.name || '(unknown artist)'),
      ` · ${a.albumCount} ${a.albumCount === 1 ? 'album' : 'albums'}`)))];
}

async function artistView(id) {
  const answer = await rest('getArtist', { id });
  return [heading(answer.artist.name || '(unknown artist)'), albumGrid(answer.artist.album || [])];
}

// Lists grow page by page; "More" fetches the next one.
function paged(title, load, render) {
  const list = el('div', {});
  const more = el('button', { type: 'button', hidden: true }, 'More');
  let offset = 0;
  const next = async () => {
    const items = await load(offset);
    offset += items.length;
    list.append(render(items));
    more.hidden = items.length < PAGE;
    if (offset === 0) list.append(el('p', {}, 'Your library is empty.'));
  };
  more.addEventListener('click', () => next().catch(showError));
  return next().then(() => [heading(title), list, more]);
}

function albumsView() {
  return paged('Albums', async (offset) => {
    const answer = await rest('getAlbumList2', { type: 'alphabeticalByName', size: PAGE, offset });
    return (answer.albumList2 && answer.albumList2.album) || [];
  }, albumGrid);
}

function songsView() {
  return paged('Songs', async (offset) => {
    const answer = await rest('search3', {
      query: '', artistCount: 0, albumCount: 0, songCount: PAGE, songOffset: offset,
    });
    return (answer.searchResult3 && answer.searchResult3.song) || [];
  }, (songs) => songTable(songs));
}

async function albumView(id) {
  const album = (await rest('getAlbum', { id })).album;
  const songs = album.song || [];
  return [
    el('div', { class: 'album-head' },
      el('img', { src: coverUrl(album.coverArt, 400), alt: `Cover of ${album.name}` }),
      el('div', {}, heading(album.name || '(no album)'),
        el('p', {}, album.artistId ? el('a', { href: `#/artist/${album.artistId}` }, album.artist) : album.artist,
          album.year ? ` · ${album.year}` : '', ` · ${songs.length} songs · ${clock(album.duration)}`))),
    el('div', { class: 'actions' },
      el('button', { type: 'button', id: 'play-album', onclick: () => playList(songs, 0) }, 'Play the album'),
      el('button', { type: 'button', onclick: () => enqueue(songs) }, 'Add to the queue')),
    songTable(songs, { numbered: true }),
  ];
}

async function searchView(query) {
  $('query').value = query;
  const answer = (await rest('search3', { query, artistCount: 20, albumCount: 20, songCount: 100 }))
    .searchResult3 || {};
  const artists = answer.artist || [];
  const albums = answer.album || [];
  const songs = answer.song || [];
  const parts = [heading(`Search: ${query}`)];
  if (!artists.length && !albums.length && !songs.length) parts.push(el('p', {}, 'Nothing found.'));
  if (artists.length) {
    parts.push(el('h3', {}, 'Artists'), el('ul', { class: 'plain' }, artists.map((a) =>
      el('li', {}, el('a', { href: `#/artist/${a.id}` }, a.name)))));
  }
  if (albums.length) parts.push(el('h3', {}, 'Albums'), albumGrid(albums));
  if (songs.length) parts.push(el('h3', {}, 'Songs'), songTable(songs));
  return parts;
}

function queueView() {
  if (state.queue.length === 0) return [heading('Queue'), el('p', {}, 'The queue is empty.')];
  const table = songTable(state.queue);
  table.querySelectorAll('tbody tr').forEach((row, i) => {
    row.classList.toggle('current', i === state.index);
    // In the queue, a title plays that entry of the queue itself.
    const play = row.querySelector('button.link');
    const copy = play.cloneNode(true);
    copy.addEventListener('click', () => playAt(i));
    play.replaceWith(copy);
    const remove = row.querySelector('td:last-child button');
    remove.textContent = 'Remove';
    remove.setAttribute('aria-label', `Remove ${state.queue[i].title || 'the song'} from the queue`);
    remove.replaceWith(el('button', {
      type: 'button', 'aria-label': remove.getAttribute('aria-label'),
      onclick: () => { dequeue(i); route(); },
    }, 'Remove'));
  });
  return [heading('Queue'), el('div', { class: 'actions' },
    el('button', { type: 'button', onclick: () => { state.queue = []; stop(); route(); } }, 'Clear the queue')),
  table];
}

async function passwordsView() {
  const list = (await web('player-passwords')).playerPasswords;
  const shown = el('div', { 'aria-live': 'polite' });
  const name = el('input', { id: 'player-name', maxlength: '64', required: true, autocomplete: 'off' });
  const error = el('p', { class: 'error', role: 'alert' });
  const form = el('form', { id: 'player-form' },
    el('label', { for: 'player-name' }, 'Name (the phone or player it is for) '), name, ' ',
    el('button', { type: 'submit' }, 'Make a player password'), error);
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.textContent = '';
    try {
      const made = await web('player-passwords', { name: name.value });
      await route();
      $('view').prepend(el('div', { class: 'secret', id: 'new-secret', tabindex: '-1' },
        el('p', {}, `Player password “${made.name}”: `, el('strong', {}, made.password)),
        el('p', {}, 'API key: ', el('strong', {}, made.apiKey)),
        el('p', {}, 'Sign a player in with your e-mail address and this password. '
          + 'It is shown only now; make a new one if you lose it.')));
      $('new-secret').focus();
    } catch (e) {
      error.textContent = e.message;
    }
  });
  const rows = list.map((p) => el('li', {}, `${p.name} · made ${new Date(p.created).toLocaleString()} `,
    el('button', {
      type: 'button', 'aria-label': `Revoke ${p.name}`,
      onclick: async () => {
        if (!window.confirm(`Revoke the player password “${p.name}”? Players using it stop working.`)) return;
        await web('player-passwords/remove', { name: p.name }).catch(showError);
        route();
      },
    }, 'Revoke')));
  return [heading('Player passwords'),
    el('p', {}, 'Music players on phones and other computers sign in with a player password, '
      + 'never with your account password. Each can be revoked on its own.'),
    form, shown, list.length ? el('ul', { class: 'plain', id: 'player-passwords' }, rows)
      : el('p', {}, 'No player passwords yet.')];
}

// --- routing --------------------------------------------------------------

const routes = [
  [/^#\/artists$/, artistsView],
  [/^#\/artist\/([a-z]{2}[0-9a-f]{22})$/, artistView],
  [/^#\/albums$/, albumsView],
  [/^#\/album\/([a-z]{2}[0-9a-f]{22})$/, albumView],
  [/^#\/songs$/, songsView],
  [/^#\/search\/(.*)$/, (q) => searchView(decodeURIComponent(q))],
  [/^#\/queue$/, queueView],
  [/^#\/passwords$/, passwordsView],
];

function showError(error) {
  if (error instanceof SignedOut) return showSignIn();
  $('view').replaceChildren(heading('Something went wrong'), el('p', { class: 'error' }, error.message));
  return undefined;
}

let routing = 0;
async function route() {
  const hash = location.hash;
  // The service's help pages read without signing in.
  const page = document.getElementById(hash.slice(1));
  document.querySelectorAll('section.page').forEach((s) => { s.hidden = s !== page; });
  if (page && page.classList.contains('page')) {
    $('view').hidden = true;
    $('signin-view').hidden = true;
    page.querySelector('h2').focus();
    return;
  }
  if (!state.user) return showSignIn();
  const match = routes.map(([re, view]) => [hash.match(re), view]).find(([m]) => m);
  if (!match) {
    location.replace('#/albums');
    return undefined;
  }
  const ticket = ++routing;
  document.querySelectorAll('nav a').forEach((a) => {
    if (hash.startsWith(a.getAttribute('href'))) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  });
  try {
    const parts = await match[1](...match[0].slice(1));
    if (ticket !== routing) return undefined; // a later click won
    const view = $('view');
    view.replaceChildren(...parts);
    view.hidden = false;
    const h = view.querySelector('h2');
    if (h) h.focus();
  } catch (error) {
    showError(error);
  }
  return undefined;
}

window.addEventListener('hashchange', route);

$('search').addEventListener('submit', (event) => {
  event.preventDefault();
  const q = $('query').value.trim();
  location.hash = `#/search/${encodeURIComponent(q)}`;
});

// --- the player -----------------------------------------------------------

function showNow() {
  const song = state.queue[state.index];
  $('now-title').textContent = song ? song.title || '(untitled)' : 'Nothing playing';
  $('now-artist').textContent = song ? [song.artist, song.album].filter(Boolean).join(' · ') : '';
  $('now-cover').src = coverUrl(song && song.coverArt, 112);
  $('total').textContent = clock(song ? song.duration : 0);
  $('seek').max = song ? String(song.duration || 0) : '0';
  document.querySelectorAll('#view tr[data-id]').forEach((row) => {
    row.classList.toggle('current', Boolean(song) && row.dataset.id === song.id);
  });
}

function playAt(i) {
  if (i < 0 || i >= state.queue.length) return;
  state.index = i;
  audio.src = `/rest/stream?id=${encodeURIComponent(state.queue[i].id)}`;
  audio.play().catch(() => {});
  showNow();
}

function playList(songs, start) {
  state.queue = songs.slice();
  playAt(start);
}

function enqueue(songs) {
  state.queue.push(...songs);
  if (state.index < 0 || audio.ended || !audio.src) playAt(state.queue.length - songs.length);
}

function dequeue(i) {
  state.queue.splice(i, 1);
  if (i < state.index) state.index -= 1;
  else if (i === state.index) {
    if (state.index < state.queue.length) playAt(state.index);
    else stop();
  }
}

function stop() {
  audio.pause();
  audio.removeAttribute('src');
  audio.load();
  state.index = -1;
  showNow();
}

function next() {
  if (state.index + 1 < state.queue.length) playAt(state.index + 1);
}

function previous() {
  // Early in a song, back goes to the one before; later, to this one's start.
  if (audio.currentTime > 3 || state.index <= 0) audio.currentTime = 0;
  else playAt(state.index - 1);
}

function toggle() {
  if (!audio.src) {
    if (state.queue.length) playAt(Math.max(0, state.index));
  } else if (audio.paused) audio.play().catch(() => {});
  else audio.pause();
}

function seekBy(seconds) {
  if (audio.src) audio.currentTime = Math.max(0, audio.currentTime + seconds);
}

$('play').addEventListener('click', toggle);
$('next').addEventListener('click', next);
$('prev').addEventListener('click', previous);
$('seek').addEventListener('input', () => { audio.currentTime = Number($('seek').value); });
$('volume').addEventListener('input', () => { audio.volume = Number($('volume').value); });

audio.addEventListener('play', () => {
  $('play').textContent = '\u275A\u275A';
  $('play').setAttribute('aria-label', 'Pause');
});
audio.addEventListener('pause', () => {
  $('play').textContent = '\u25B6';
  $('play').setAttribute('aria-label', 'Play');
});
audio.addEventListener('timeupdate', () => {
  $('elapsed').textContent = clock(audio.currentTime);
  if (document.activeElement !== $('seek')) $('seek').value = String(Math.floor(audio.currentTime));
});
audio.addEventListener('loadedmetadata', () => {
  if (Number.isFinite(audio.duration)) {
    $('seek').max = String(Math.floor(audio.duration));
    $('total').textContent = clock(audio.duration);
  }
});
audio.addEventListener('ended', () => {
  const song = state.queue[state.index];
  if (song) rest('scrobble', { id: song.id, submission: 'true' }).catch(() => {});
  next();
});

// Keys for the player wherever typing is not going on.
document.addEventListener('keydown', (event) => {
  const target = event.target;
  const typing = target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement;
  if (!state.user || typing || event.ctrlKey || event.metaKey || event.altKey) return;
  const onButton = target instanceof HTMLButtonElement || target instanceof HTMLAnchorElement;
  const actions = {
    ' ': onButton ? null : toggle,
    k: toggle,
    n: next,
    p: previous,
    ArrowRight: () => seekBy(10),
    ArrowLeft: () => seekBy(-10),
    '/': () => $('query').focus(),
  };
  const action = actions[event.key];
  if (action) {
    event.preventDefault();
    action();
  }
});

// --- start ----------------------------------------------------------------

(async () => {
  try {
    showSignedIn(await web('me'));
  } catch {
    state.user = null;
  }
  route();
})();
