// The web player: signs in with the account's own password (the server keeps
// the session in an HttpOnly cookie), browses through the music-player API
// under /rest/ and plays with the browser's audio elements (player.js).
import { $, el, SignedOut, web } from './api.js';
import * as player from './player.js';
import { focusMovedHandle, markCurrent } from './songs.js';
import * as views from './views.js';

const state = { user: null };

// --- sign-in --------------------------------------------------------------

function showSignedIn(user) {
  state.user = user;
  $('signin-view').hidden = true;
  for (const id of ['nav', 'search', 'account', 'signout', 'player']) $(id).hidden = false;
  $('account').textContent = user.email;
  // The queue this account left, here or in another player.
  player.restore().catch(showError);
}

function showSignIn() {
  state.user = null;
  player.forget();
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

// --- routing --------------------------------------------------------------

const ID = '([a-z]{2}[0-9a-f]{22})';
const routes = [
  [/^#\/artists$/, views.artistsView],
  [new RegExp(`^#/artist/${ID}$`), views.artistView],
  [/^#\/albums$/, views.albumsView],
  [new RegExp(`^#/album/${ID}$`), views.albumView],
  [/^#\/songs$/, views.songsView],
  [/^#\/search\/(.*)$/, (q) => views.searchView(decodeURIComponent(q))],
  [/^#\/playlists$/, views.playlistsView],
  [new RegExp(`^#/playlist/${ID}$`), (id) => views.playlistView(id, refresh)],
  [/^#\/favourites$/, views.favouritesView],
  [/^#\/explore$/, views.exploreView],
  [/^#\/list\/(newest|frequent|recent|random)$/, views.listView],
  [/^#\/random-songs$/, () => views.randomSongsView(refresh)],
  [/^#\/genres$/, views.genresView],
  [/^#\/genre\/(.+)$/, (g) => views.genreView(decodeURIComponent(g))],
  [/^#\/years$/, views.yearsView],
  [/^#\/years\/([0-9]{1,4})-([0-9]{1,4})$/, views.yearView],
  [/^#\/queue$/, views.queueView],
  [/^#\/passwords$/, () => views.passwordsView(refresh, state.user)],
];

function showError(error) {
  if (error instanceof SignedOut) return showSignIn();
  $('view').replaceChildren(el('h2', { tabindex: '-1' }, 'Something went wrong'),
    el('p', { class: 'error' }, error.message));
  return undefined;
}

let routing = 0;

// Draws the view of the address; a new address moves the focus to its heading,
// a view drawn again after a change leaves the focus where it was.
async function route({ focus = true } = {}) {
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
  if (!state.user) {
    showSignIn();
    return;
  }
  const match = routes.map(([re, view]) => [hash.match(re), view]).find(([m]) => m);
  if (!match) {
    location.replace('#/albums');
    return;
  }
  const ticket = ++routing;
  document.querySelectorAll('nav a').forEach((a) => {
    if (hash.startsWith(a.getAttribute('href'))) a.setAttribute('aria-current', 'page');
    else a.removeAttribute('aria-current');
  });
  try {
    const parts = await match[1](...match[0].slice(1));
    if (ticket !== routing) return; // a later click won
    const view = $('view');
    view.replaceChildren(...[parts].flat(Infinity).filter((p) => p !== ''));
    view.hidden = false;
    if (focus) view.querySelector('h2')?.focus();
    else focusMovedHandle();
  } catch (error) {
    showError(error);
  }
}

const refresh = () => route({ focus: false });

window.addEventListener('hashchange', () => route());
player.events.addEventListener('change', () => {
  if (location.hash === '#/queue' && state.user) refresh();
  else markCurrent();
});

$('search').addEventListener('submit', (event) => {
  event.preventDefault();
  const q = $('query').value.trim();
  location.hash = `#/search/${encodeURIComponent(q)}`;
});

// The page's foot stays clear of the player bar, however tall it wraps.
new ResizeObserver(() => {
  document.body.style.paddingBottom = `${$('player').offsetHeight + 16}px`;
}).observe($('player'));

// Keys for the player wherever typing is not going on.
document.addEventListener('keydown', (event) => {
  const target = event.target;
  const typing = target instanceof HTMLInputElement || target instanceof HTMLTextAreaElement;
  if (!state.user || typing || event.ctrlKey || event.metaKey || event.altKey) return;
  if (target.closest && target.closest('dialog, [role="menu"]')) return;
  const onButton = target instanceof HTMLButtonElement || target instanceof HTMLAnchorElement;
  const actions = {
    ' ': onButton ? null : player.toggle,
    k: player.toggle,
    n: player.next,
    p: player.previous,
    s: () => player.setShuffle(!player.isShuffled()),
    r: player.cycleRepeat,
    ArrowRight: () => player.seekBy(10),
    ArrowLeft: () => player.seekBy(-10),
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
