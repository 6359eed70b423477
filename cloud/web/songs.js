// Songs as rows that fit any width, each with a menu of what can be done with
// it, and lists whose rows can be dragged, or moved with the arrow keys.
import { $, announce, ask, clock, el, rest, songTitle } from './api.js';
import * as player from './player.js';

// --- the action menu: one element, opened beside the button that asked ------------

let menuOpener = null;

function closeMenu({ refocus = true } = {}) {
  const menu = $('song-menu');
  if (menu.hidden) return;
  menu.hidden = true;
  menuOpener.setAttribute('aria-expanded', 'false');
  if (refocus) menuOpener.focus();
}

// items: [label, action] pairs; null leaves an item out.
export function openMenu(opener, items) {
  closeMenu({ refocus: false });
  menuOpener = opener;
  const menu = $('song-menu');
  menu.replaceChildren(...items.filter(Boolean).map(([label, action]) => el('button', {
    type: 'button', role: 'menuitem', tabindex: '-1',
    onclick: () => { closeMenu(); action(); },
  }, label)));
  menu.hidden = false;
  opener.setAttribute('aria-expanded', 'true');
  const box = opener.getBoundingClientRect();
  const width = menu.offsetWidth;
  const height = menu.offsetHeight;
  menu.style.left = `${Math.max(4, Math.min(box.right - width, innerWidth - width - 4)) + scrollX}px`;
  const below = box.bottom + height < innerHeight - $('player').offsetHeight;
  menu.style.top = `${(below ? box.bottom : Math.max(4, box.top - height)) + scrollY}px`;
  menu.firstChild.focus();
}

$('song-menu').addEventListener('keydown', (event) => {
  const items = [...$('song-menu').children];
  const at = items.indexOf(document.activeElement);
  const moves = { ArrowDown: at + 1, ArrowUp: at - 1, Home: 0, End: items.length - 1 };
  if (event.key in moves) {
    event.preventDefault();
    items[(moves[event.key] + items.length) % items.length].focus();
  } else if (event.key === 'Escape') {
    event.preventDefault();
    closeMenu();
  } else if (event.key === 'Tab') {
    closeMenu();
  }
});
document.addEventListener('pointerdown', (event) => {
  if (!$('song-menu').hidden && !$('song-menu').contains(event.target)
    && event.target !== menuOpener) closeMenu({ refocus: false });
});

// --- playlists and stars, from any song ------------------------------------------

export async function newPlaylist(songs = []) {
  const form = await ask('New playlist', [
    el('label', { for: 'ask-name' }, 'Name'),
    el('input', { id: 'ask-name', name: 'name', required: true, maxlength: '256', autocomplete: 'off' }),
  ], 'Make the playlist');
  if (!form) return null;
  const made = await rest('createPlaylist', { name: form.get('name'), songId: songs.map((s) => s.id) });
  announce(`Playlist “${form.get('name')}” made${songs.length ? ` with ${songs.length} songs` : ''}.`);
  return made.playlist;
}

export async function addToPlaylist(songs) {
  const lists = (await rest('getPlaylists')).playlists.playlist || [];
  const choices = lists.map((p, i) => el('label', { class: 'choice' },
    el('input', { type: 'radio', name: 'playlist', value: p.id, required: true, checked: i === 0 }),
    ` ${p.name} (${p.songCount})`));
  const form = await ask('Add to a playlist', [
    ...choices,
    el('label', { class: 'choice' }, el('input', { type: 'radio', name: 'playlist', value: '', checked: !lists.length }),
      ' A new playlist'),
  ], 'Add');
  if (!form) return;
  const id = form.get('playlist');
  if (!id) {
    await newPlaylist(songs);
    return;
  }
  await rest('updatePlaylist', { playlistId: id, songIdToAdd: songs.map((s) => s.id) });
  const name = lists.find((p) => p.id === id).name;
  announce(`${songs.length === 1 ? `“${songTitle(songs[0])}”` : `${songs.length} songs`} added to “${name}”.`);
}

// Stars a song or album (or takes the star away); the item remembers it.
export async function toggleStar(item, kind = 'id') {
  const starring = !item.starred;
  await rest(starring ? 'star' : 'unstar', { [kind]: item.id });
  item.starred = starring ? new Date().toISOString() : undefined;
  announce(`“${item.title || item.name}” ${starring ? 'is now a favourite' : 'is no longer a favourite'}.`);
  return starring;
}

const report = (error) => announce(error.message);

// --- song rows --------------------------------------------------------------------

// The menu every song has; `extra` adds the items of the list it is in.
function songMenu(song, extra) {
  return [
    ['Play next', () => player.playNext([song])],
    ['Add to the queue', () => player.enqueue([song])],
    ['Add to a playlist…', () => addToPlaylist([song]).catch(report)],
    [song.starred ? 'Remove from favourites' : 'Add to favourites',
      () => toggleStar(song).then(() => markStars()).catch(report)],
    song.albumId ? ['Go to the album', () => { location.hash = `#/album/${song.albumId}`; }] : null,
    song.artistId ? ['Go to the artist', () => { location.hash = `#/artist/${song.artistId}`; }] : null,
    ...(extra || []),
  ];
}

function markStars() {
  document.querySelectorAll('#view li.song').forEach((row) => {
    row.querySelector('.star').hidden = !row.song.starred;
  });
}

// options.play(i) is what a click on the title does (by default: plays the
// song and leaves the queue as it is); options.menu(i) adds menu items;
// options.move(from, to) makes the rows movable.
export function songList(songs, options = {}) {
  const play = options.play || ((i) => player.playFrom(songs, i));
  const list = el('ol', { class: 'songs' }, songs.map((song, i) => {
    const title = songTitle(song);
    const row = el('li', { class: 'song', 'data-id': song.id },
      options.move ? el('button', {
        type: 'button', class: 'handle',
        'aria-label': `Move ${title} (drag, or press the up and down arrow keys)`,
      }, '\u2630') : el('span', { class: 'num' }, options.numbered && song.track ? song.track : i + 1),
      el('button', { type: 'button', class: 'title', onclick: () => play(i) }, title),
      el('span', { class: 'who' }, [song.artist, song.album].filter(Boolean).join(' · ')),
      el('span', { class: 'star', 'aria-label': 'favourite', role: 'img', hidden: !song.starred }, '\u2605'),
      el('span', { class: 'length' }, clock(song.duration)),
      el('button', {
        type: 'button', class: 'more', 'aria-haspopup': 'menu', 'aria-expanded': 'false',
        'aria-label': `Actions for ${title}`,
        onclick: (event) => openMenu(event.currentTarget, songMenu(song, options.menu && options.menu(i))),
      }, '\u22EF'));
    row.song = song;
    return row;
  }));
  if (options.move) reorderable(list, options.move);
  markCurrent(list);
  return list;
}

// The playing song's row is marked wherever it shows.
export function markCurrent(root = document) {
  const song = player.current();
  root.querySelectorAll('li.song').forEach((row) => {
    const on = Boolean(song) && row.dataset.id === song.id;
    row.classList.toggle('current', on);
    if (on) row.setAttribute('aria-current', 'true');
    else row.removeAttribute('aria-current');
  });
}

// Rows move by dragging their handle (mouse, pen or finger) or with the
// arrow keys on it; move(from, to) does the rest and draws the list again.
function reorderable(list, move) {
  const rows = () => [...list.children];
  const moved = (from, to, keyboard) => {
    announce(`“${songTitle(rows()[from].song)}” moved to place ${to + 1}.`);
    move(from, to, { keyboard });
  };
  list.addEventListener('keydown', (event) => {
    const handle = event.target.closest('.handle');
    if (!handle || !['ArrowUp', 'ArrowDown'].includes(event.key)) return;
    event.preventDefault();
    event.stopPropagation();
    const from = rows().indexOf(handle.parentElement);
    const to = from + (event.key === 'ArrowUp' ? -1 : 1);
    if (to >= 0 && to < rows().length) moved(from, to, true);
  });
  list.addEventListener('pointerdown', (event) => {
    const handle = event.target.closest('.handle');
    if (!handle || event.button !== 0) return;
    event.preventDefault();
    const row = handle.parentElement;
    const from = rows().indexOf(row);
    let to = from;
    row.classList.add('dragging');
    handle.setPointerCapture(event.pointerId);
    const over = (e) => {
      const target = rows().find((r) => {
        const box = r.getBoundingClientRect();
        return e.clientY >= box.top && e.clientY < box.bottom;
      });
      if (target) to = rows().indexOf(target);
      rows().forEach((r, k) => r.classList.toggle('drop-here', k === to && k !== from));
    };
    const drag = new AbortController();
    const done = () => {
      drag.abort();
      row.classList.remove('dragging');
      rows().forEach((r) => r.classList.remove('drop-here'));
      if (to !== from) moved(from, to, false);
    };
    handle.addEventListener('pointermove', over, { signal: drag.signal });
    handle.addEventListener('pointerup', done, { signal: drag.signal });
    handle.addEventListener('pointercancel', () => { to = from; done(); }, { signal: drag.signal });
  });
}

// After a move the list is drawn again; the moved row's handle then has the
// focus (keyboard moves go on from there).
let handleToFocus = -1;

export function focusHandleAfterDrawing(index) {
  handleToFocus = index;
}

export function focusMovedHandle() {
  const handle = document.querySelectorAll('#view ol.songs .handle')[handleToFocus];
  handleToFocus = -1;
  if (handle) handle.focus();
}
