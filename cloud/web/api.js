// What every part of the page shares: building elements (every text from the
// library goes in as text, never as markup), the two APIs the page speaks,
// and a line of news for the person.

export const $ = (id) => document.getElementById(id);

export function el(tag, props, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props || {})) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (key in node && typeof value !== 'string') node[key] = value;
    else node.setAttribute(key, value === true ? '' : value);
  }
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    node.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
  return node;
}

export function clock(seconds) {
  const s = Math.max(0, Math.floor(seconds || 0));
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const rest = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${rest}` : `${m}:${rest}`;
}

export function coverUrl(id, size) {
  return id ? `/rest/getCoverArt?id=${encodeURIComponent(id)}&size=${size}` : '/web/icon.svg';
}

export const songTitle = (song) => (song && song.title) || '(untitled)';

export class SignedOut extends Error {}

// The query of a music-player API call; a list value repeats its name, as
// the API takes several IDs.
function restQuery(params) {
  const query = new URLSearchParams({ f: 'json', v: '1.16.1', c: 'sonarbox-web' });
  for (const [key, value] of Object.entries(params || {})) {
    for (const v of [value].flat()) if (v !== undefined && v !== null) query.append(key, v);
  }
  return query;
}

// A call of the music-player API with the session's cookie. Lists of IDs,
// which grow past what an address holds, go as a form body, which the
// server reads as it reads a query.
export async function rest(method, params, { keepalive = false } = {}) {
  const query = restQuery(params);
  const form = Object.values(params || {}).some(Array.isArray);
  const reply = await fetch(form ? `/rest/${method}` : `/rest/${method}?${query}`, {
    credentials: 'same-origin',
    keepalive,
    ...(form ? { method: 'POST', body: query } : {}),
  });
  const answer = (await reply.json())['subsonic-response'];
  if (answer.status !== 'ok') {
    if (answer.error && answer.error.code === 40) throw new SignedOut(answer.error.message);
    const error = new Error(answer.error ? answer.error.message : 'the server refused');
    error.code = answer.error && answer.error.code;
    throw error;
  }
  return answer;
}

export async function web(path, body) {
  const init = body === undefined ? {} : {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
  };
  const reply = await fetch(`/web/api/${path}`, { credentials: 'same-origin', ...init });
  const data = await reply.json().catch(() => ({}));
  if (reply.status === 401) throw new SignedOut(data.error || 'not signed in');
  if (!reply.ok) throw new Error(data.error || `the server answered ${reply.status}`);
  return data;
}

// One line at the foot of the page, read out by screen readers; an action
// (such as Undo) may go with it.
let toastTimer = 0;
export function announce(text, action) {
  const toast = $('toast');
  toast.replaceChildren(el('span', {}, text));
  if (action) {
    toast.append(' ', el('button', {
      type: 'button',
      onclick: () => { toast.replaceChildren(); action.run(); },
    }, action.label));
  }
  toast.classList.add('shown');
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => toast.classList.remove('shown'), action ? 10000 : 6000);
}

// A small modal form: a title, fields, and OK. Resolves with the form's
// FormData, or null when it was cancelled.
export function ask(title, fields, okLabel = 'OK') {
  const dialog = $('ask');
  $('ask-title').textContent = title;
  $('ask-body').replaceChildren(...fields);
  $('ask-ok').textContent = okLabel;
  dialog.returnValue = '';
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      resolve(dialog.returnValue === 'ok' ? new FormData($('ask-form')) : null);
    }, { once: true });
  });
}
