// The player: a queue of songs, two audio elements taking turns (the idle one
// loads the next song, so one song follows another without a wait), shuffle
// and repeat, the system's media controls, and the queue kept on the server,
// so that a reload, or a phone app, continues where the listening stopped.
import { $, announce, clock, coverUrl, rest, songTitle } from './api.js';

const decks = [...document.querySelectorAll('audio.deck')];
let active = decks[0];
let spare = decks[1];

const SETTINGS = 'sonarbox-player';
const saved = JSON.parse(localStorage.getItem(SETTINGS) || '{}');
const state = {
  queue: [], // entries: a copy of the song per place in the queue
  index: -1,
  shuffle: Boolean(saved.shuffle),
  unshuffled: null, // the order from before shuffle, where this page mixed it
  repeat: ['off', 'all', 'one'].includes(saved.repeat) ? saved.repeat : 'off',
  attempt: 0, // which of the current song's sources is loaded
  wantsPlay: false,
  startAt: 0, // a position to go to once the song's length is known
  failuresInARow: 0,
};

// Tells the page that the queue or the current song changed.
export const events = new EventTarget();
const changed = () => events.dispatchEvent(new Event('change'));

export const queue = () => state.queue;
export const current = () => state.queue[state.index];
export const isShuffled = () => state.shuffle;

const entriesOf = (songs) => songs.map((song) => ({ ...song }));

// --- sources: the stored file where the browser can play it, otherwise a
// transcode (Opus, or MP3 where Opus does not play either) --------------------

const playable = (type) => Boolean(type) && active.canPlayType(type) !== '';

function sourcesOf(song) {
  const base = `/rest/stream?id=${encodeURIComponent(song.id)}`;
  const list = playable(song.contentType) ? [base] : [];
  if (playable('audio/ogg; codecs="opus"')) list.push(`${base}&format=opus&estimateContentLength=true`);
  list.push(`${base}&format=mp3&estimateContentLength=true`);
  return list;
}

// The entry that follows the current one, or -1.
function following() {
  if (state.index + 1 < state.queue.length) return state.index + 1;
  return state.repeat === 'all' && state.queue.length ? 0 : -1;
}

function unload(deck) {
  deck.pause();
  deck.removeAttribute('src');
  delete deck.dataset.url;
  deck.load();
}

function load() {
  const song = current();
  const url = sourcesOf(song)[state.attempt];
  if (spare.dataset.url === url) {
    // The next song is loaded already: the decks trade places.
    const old = active;
    active = spare;
    spare = old;
    active.currentTime = 0;
    unload(spare);
  } else {
    active.src = url;
    active.dataset.url = url;
  }
  active.classList.add('active');
  spare.classList.remove('active');
  active.volume = Number($('volume').value);
  if (state.wantsPlay) active.play().catch(() => {}); // a failure arrives as an error event
  else showPaused();
  showSong();
  changed();
  saveSoon(300);
}

function preloadNext() {
  const n = following();
  const url = n >= 0 && n !== state.index ? sourcesOf(state.queue[n])[0] : undefined;
  if (!url || spare.dataset.url === url) return;
  spare.src = url;
  spare.dataset.url = url;
  spare.load();
}

export function playAt(i, { play = true, position = 0 } = {}) {
  if (i < 0 || i >= state.queue.length) return;
  state.index = i;
  state.attempt = 0;
  state.wantsPlay = play;
  state.startAt = position;
  load();
}

function stop() {
  unload(active);
  unload(spare);
  state.index = -1;
  state.wantsPlay = false;
  showSong();
  changed();
  saveSoon(300);
}

// The current entry was moved or others around it: its index follows it.
function follow(entry) {
  state.index = entry ? state.queue.indexOf(entry) : -1;
  changed();
  saveSoon(500);
  preloadNext();
}

function shuffled(entries) {
  const out = entries.slice();
  for (let i = out.length - 1; i > 0; i -= 1) {
    const j = Math.floor(Math.random() * (i + 1));
    [out[i], out[j]] = [out[j], out[i]];
  }
  return out;
}

// Shuffle keeps the current song first and mixes the rest; turning it off
// brings back the order from before, with songs added since at the end.
function mix(first) {
  state.unshuffled = state.queue.slice();
  const others = shuffled(state.queue.filter((e) => e !== first));
  state.queue = first ? [first, ...others] : others;
}

function keepModes() {
  localStorage.setItem(SETTINGS, JSON.stringify({ shuffle: state.shuffle, repeat: state.repeat }));
  showModes();
}

export function setShuffle(on) {
  const entry = current();
  state.shuffle = on;
  if (on) mix(entry);
  else if (state.unshuffled) {
    const known = new Set(state.unshuffled);
    const present = new Set(state.queue);
    state.queue = [...state.unshuffled.filter((e) => present.has(e)),
      ...state.queue.filter((e) => !known.has(e))];
  }
  state.unshuffled = on ? state.unshuffled : null;
  keepModes();
  follow(entry);
}

export function cycleRepeat() {
  const modes = ['off', 'all', 'one'];
  state.repeat = modes[(modes.indexOf(state.repeat) + 1) % modes.length];
  keepModes();
  preloadNext();
}

// --- what the page does with the queue ------------------------------------------

function replace(songs, start) {
  const entries = entriesOf(songs);
  const first = entries[start];
  state.queue = entries;
  state.unshuffled = null;
  if (state.shuffle) mix(first);
  playAt(state.queue.indexOf(first));
}

// "Play all": the list becomes the queue; the queue it replaced can come back.
export function playAll(songs, start = 0) {
  if (!songs.length) return;
  const before = {
    queue: state.queue, index: state.index, unshuffled: state.unshuffled, position: active.currentTime,
  };
  replace(songs, start);
  const undo = before.queue.length ? {
    label: 'Undo',
    run: () => {
      Object.assign(state, { queue: before.queue, unshuffled: before.unshuffled });
      playAt(Math.max(0, before.index), { position: before.position });
    },
  } : undefined;
  announce(`The queue now holds ${songs.length} ${songs.length === 1 ? 'song' : 'songs'}.`, undo);
}

// A click on a song of a list. With an empty queue, or the list already in
// the queue, the list plays from that song; otherwise the song plays now and
// the queue goes on after it.
export function playFrom(songs, i) {
  const order = state.unshuffled || state.queue;
  const same = order.length === songs.length && order.every((e, k) => e.id === songs[k].id);
  if (same) playAt(state.queue.indexOf(order[i]));
  else if (state.queue.length === 0) replace(songs, i);
  else {
    const [entry] = entriesOf([songs[i]]);
    state.queue.splice(state.index + 1, 0, entry);
    playAt(state.index + 1);
  }
}

export function playNext(songs) {
  const entries = entriesOf(songs);
  state.queue.splice(state.index + 1, 0, ...entries);
  if (state.index < 0 || !active.dataset.url) playAt(state.queue.indexOf(entries[0]));
  else follow(current());
  announce(songs.length === 1 ? `“${songTitle(songs[0])}” plays next.` : `${songs.length} songs play next.`);
}

export function enqueue(songs) {
  const entries = entriesOf(songs);
  state.queue.push(...entries);
  if (state.index < 0 || !active.dataset.url || active.ended) playAt(state.queue.indexOf(entries[0]));
  else follow(current());
  announce(songs.length === 1 ? `“${songTitle(songs[0])}” was added to the queue.`
    : `${songs.length} songs were added to the queue.`);
}

export function remove(i) {
  const entry = current();
  const [gone] = state.queue.splice(i, 1);
  if (state.unshuffled) state.unshuffled = state.unshuffled.filter((e) => e !== gone);
  if (gone !== entry) return follow(entry);
  if (i < state.queue.length) return playAt(i, { play: !active.paused });
  return stop();
}

export function move(from, to) {
  if (to < 0 || to >= state.queue.length || from === to) return;
  const entry = current();
  const [moved] = state.queue.splice(from, 1);
  state.queue.splice(to, 0, moved);
  follow(entry);
}

export function clear() {
  state.queue = [];
  state.unshuffled = null;
  stop();
}

// Signed out: this page lets go of the queue, which the server keeps.
export function forget() {
  clearTimeout(saveTimer);
  state.queue = [];
  state.unshuffled = null;
  state.index = -1;
  unload(active);
  unload(spare);
  showSong();
}

// --- controls ------------------------------------------------------------------

export function next() {
  const n = following();
  if (n >= 0) playAt(n, { play: true });
}

export function previous() {
  // Early in a song, back goes to the one before; later, to this one's start.
  if (active.currentTime > 3 || state.index <= 0) active.currentTime = 0;
  else playAt(state.index - 1);
}

export function toggle() {
  if (!active.dataset.url) {
    if (state.queue.length) playAt(Math.max(0, state.index));
  } else if (active.paused) {
    state.wantsPlay = true;
    active.play().catch(() => {});
  } else {
    state.wantsPlay = false;
    active.pause();
  }
}

function seekTo(seconds) {
  if (!active.dataset.url) return;
  const end = Number.isFinite(active.duration) ? active.duration : (current() || {}).duration || 0;
  active.currentTime = Math.max(0, Math.min(seconds, end));
}

export const seekBy = (seconds) => seekTo(active.currentTime + seconds);

// A song none of whose sources plays is reported and skipped; a queue where
// nothing plays stops instead of going round.
function failed() {
  const song = current();
  if (!song) return;
  if (state.attempt + 1 < sourcesOf(song).length) {
    state.attempt += 1;
    state.startAt = active.currentTime || state.startAt;
    load();
    return;
  }
  state.failuresInARow += 1;
  announce(`“${songTitle(song)}” could not be played and was skipped.`);
  const n = following();
  if (n < 0 || state.failuresInARow >= state.queue.length) {
    state.failuresInARow = 0;
    state.wantsPlay = false;
    unload(active);
    changed();
    return;
  }
  playAt(n, { play: state.wantsPlay });
}

// --- the player bar, the tab title and the system's media controls --------------

function showModes() {
  $('shuffle').setAttribute('aria-pressed', String(isShuffled()));
  const repeat = $('repeat');
  repeat.dataset.mode = state.repeat;
  repeat.setAttribute('aria-label', `Repeat: ${state.repeat === 'off' ? 'off' : state.repeat === 'all'
    ? 'the whole queue' : 'this song'}`);
  repeat.textContent = state.repeat === 'one' ? '\u21BB1' : '\u21BB';
}

function length() {
  return Number.isFinite(active.duration) && active.duration > 0 ? active.duration
    : (current() || {}).duration || 0;
}

function showSong() {
  const song = current();
  $('now-title').textContent = song ? songTitle(song) : 'Nothing playing';
  $('now-artist').textContent = song ? [song.artist, song.album].filter(Boolean).join(' · ') : '';
  $('now-cover').src = coverUrl(song && song.coverArt, 96);
  $('total').textContent = clock(song ? song.duration : 0);
  $('seek').max = song ? String(song.duration || 0) : '0';
  showTime(state.startAt);
  document.title = song ? `${songTitle(song)}${song.artist ? ` · ${song.artist}` : ''} – Sonarbox`
    : 'Sonarbox';
  if (!('mediaSession' in navigator)) return;
  navigator.mediaSession.metadata = song ? new MediaMetadata({
    title: songTitle(song),
    artist: song.artist || '',
    album: song.album || '',
    artwork: [96, 256, 512].map((size) => ({
      src: new URL(coverUrl(song.coverArt, size), location.href).href,
      sizes: `${size}x${size}`,
    })),
  }) : null;
}

function showTime(seconds) {
  $('elapsed').textContent = clock(seconds);
  if (document.activeElement !== $('seek')) $('seek').value = String(Math.floor(seconds));
}

function showPosition() {
  if (!('mediaSession' in navigator) || !current()) return;
  const duration = length();
  if (duration <= 0) return;
  navigator.mediaSession.setPositionState({
    duration, playbackRate: active.playbackRate || 1, position: Math.min(active.currentTime, duration),
  });
}

if ('mediaSession' in navigator) {
  const actions = {
    play: () => { if (active.paused) toggle(); },
    pause: () => { if (!active.paused) toggle(); },
    stop,
    previoustrack: previous,
    nexttrack: next,
    seekto: (details) => seekTo(details.seekTime),
    seekbackward: (details) => seekBy(-(details.seekOffset || 10)),
    seekforward: (details) => seekBy(details.seekOffset || 10),
  };
  for (const [action, handler] of Object.entries(actions)) {
    try {
      navigator.mediaSession.setActionHandler(action, handler);
    } catch {
      // an action this browser does not know
    }
  }
}

// --- the queue on the server ----------------------------------------------------

let saveTimer = 0;
let lastSave = 0;

function saveSoon(ms) {
  clearTimeout(saveTimer);
  saveTimer = setTimeout(save, ms);
}

// The queue, the current song and where in it, as the API keeps them (a
// queue where nothing is current keeps its songs; an empty one clears it).
function save({ keepalive = false } = {}) {
  clearTimeout(saveTimer);
  lastSave = Date.now();
  const song = current();
  const position = active.dataset.url && active.readyState > 0 ? active.currentTime : state.startAt;
  return rest('savePlayQueue', {
    id: state.queue.map((e) => e.id),
    current: song && song.id,
    position: song ? Math.floor(position * 1000) : 0,
  }, { keepalive }).catch(() => {}); // a server without the method still plays
}

export async function restore() {
  let saved;
  try {
    saved = (await rest('getPlayQueue')).playQueue;
  } catch (error) {
    if (error.code === 40) throw error;
    return;
  }
  if (!saved || !saved.entry || !saved.entry.length || state.queue.length) return;
  state.queue = entriesOf(saved.entry);
  state.unshuffled = null;
  const at = Math.max(0, state.queue.findIndex((e) => e.id === saved.current));
  playAt(at, { play: false, position: (saved.position || 0) / 1000 });
  clearTimeout(saveTimer); // nothing changed that the server does not know
}

addEventListener('pagehide', () => { if (state.queue.length) save({ keepalive: true }); });

// --- the audio elements ---------------------------------------------------------

const on = (type, handler) => {
  for (const deck of decks) deck.addEventListener(type, (event) => { if (event.target === active) handler(event); });
};

on('play', () => {
  $('play').textContent = '\u275A\u275A';
  $('play').setAttribute('aria-label', 'Pause');
  if ('mediaSession' in navigator) navigator.mediaSession.playbackState = 'playing';
});
function showPaused() {
  $('play').textContent = '\u25B6';
  $('play').setAttribute('aria-label', 'Play');
  if ('mediaSession' in navigator) navigator.mediaSession.playbackState = 'paused';
}
on('pause', () => {
  showPaused();
  if (current()) save();
});
let nowPlaying = null;
on('playing', () => {
  state.failuresInARow = 0;
  showPosition();
  const song = current();
  if (song && song !== nowPlaying) rest('scrobble', { id: song.id, submission: 'false' }).catch(() => {});
  nowPlaying = song;
});
on('loadedmetadata', () => {
  if (state.startAt > 0) active.currentTime = Math.min(state.startAt, length());
  state.startAt = 0;
  $('seek').max = String(Math.floor(length()));
  $('total').textContent = clock(length());
  showPosition();
});
on('timeupdate', () => {
  showTime(active.currentTime);
  if (!active.paused && Date.now() - lastSave > 15000) save();
});
on('seeked', () => { showPosition(); saveSoon(1000); });
on('canplaythrough', preloadNext);
on('error', failed);
on('ended', () => {
  const song = current();
  if (song) rest('scrobble', { id: song.id, submission: 'true' }).catch(() => {});
  if (state.repeat === 'one') {
    active.currentTime = 0;
    active.play().catch(() => {});
  } else if (following() >= 0) {
    next();
  } else {
    state.wantsPlay = false;
    save();
  }
});
// A next song that fails to load is tried again, source by source, when its turn comes.
for (const deck of decks) {
  deck.addEventListener('error', () => { if (deck !== active && deck.dataset.url) unload(deck); });
}

$('play').addEventListener('click', toggle);
$('next').addEventListener('click', next);
$('prev').addEventListener('click', previous);
$('shuffle').addEventListener('click', () => setShuffle(!isShuffled()));
$('repeat').addEventListener('click', cycleRepeat);
$('seek').addEventListener('input', () => seekTo(Number($('seek').value)));
$('volume').addEventListener('input', () => {
  for (const deck of decks) deck.volume = Number($('volume').value);
});
showModes();
