// Drives the web player in headless Chromium the way a person would, on a
// computer's screen (1280 x 800) and a phone's (375 x 812, and 320 wide):
// signs in, browses, plays, pauses, seeks and skips with the player bar and
// the keys, edits the queue (a click that keeps it, play next, dragging and
// arrow keys, shuffle, repeat), reloads and finds the queue and position
// again, plays a WMA song through a transcode, skips a song that cannot play,
// makes, renames, reorders and deletes playlists, stars, browses the lists,
// genres and years, sets up a phone, and checks the main views with axe-core.
// Other accounts' songs contain the word FOREIGN: no page may show it.
// Prints what failed and exits non-zero; saves screenshots into SHOTS.
//   node browser.mjs BASE_URL EMAIL PASSWORD FOREIGN SHOTS_DIR
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import puppeteer from 'puppeteer-core';

const [base, email, password, foreign, shots] = process.argv.slice(2);
const origin = new URL(base).origin;
const axeSource = readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); };
const sleep = (ms) => new Promise((resolve) => { setTimeout(resolve, ms); });

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--mute-audio',
    '--disable-gpu', '--no-first-run'],
});
await browser.defaultBrowserContext().overridePermissions(origin, ['clipboard-read', 'clipboard-write',
  'clipboard-sanitized-write']);
const problems = [];
const streams = []; // every stream the pages asked for
let step = 'start';

async function open(width, height, mobile) {
  const page = await browser.newPage();
  await page.setViewport({ width, height, isMobile: mobile, hasTouch: mobile });
  page.on('pageerror', (e) => problems.push(`script error: ${e.message}`));
  // The page asks whether it is signed in, and a wrong password is refused:
  // those two 401 answers are expected; any other error is not.
  const expected = (m) => /status of 401/.test(m.text())
    && /\/web\/api\/(me|signin)$/.test(m.location().url || '');
  page.on('console', (m) => {
    if (m.type() === 'error' && !expected(m)) problems.push(`console: ${m.text()} (${m.location().url})`);
  });
  page.on('request', (r) => {
    if (!r.url().startsWith('data:') && new URL(r.url()).origin !== origin) problems.push(`left the server: ${r.url()}`);
    if (r.url().includes('/rest/stream?')) streams.push(new URL(r.url()).searchParams);
  });
  return page;
}

// --- what the page shows ------------------------------------------------------------

const text = (page, selector) => page.$eval(selector, (e) => e.textContent);
const texts = (page, selector) => page.$$eval(selector, (els) => els.map((e) => e.textContent));
const noForeign = async (page, where) => {
  check(!(await text(page, '#view')).includes(foreign), `${where} shows another account's "${foreign}"`);
};
const audio = (page) => page.evaluate(() => {
  const a = document.querySelector('audio.active') || document.querySelector('audio');
  return { paused: a.paused, time: a.currentTime, src: a.src, error: a.error && a.error.code };
});
const waitFor = (page, what, fn, ...args) => page.waitForFunction(fn, { timeout: 15000 }, ...args)
  .then(() => true, () => { failures.push(what); return false; });
const playing = (page, what) => waitFor(page, what, () => {
  const a = document.querySelector('audio.active');
  return a && !a.paused && a.currentTime > 0.3;
});
const nowIs = (page, title, what) => waitFor(page, what,
  (want) => document.getElementById('now-title').textContent === want, title);
const view = async (page, hash, title) => {
  await page.evaluate((h) => { location.hash = h; }, hash);
  await page.waitForFunction((t) => document.querySelector('#view h2')?.textContent === t
    && !document.getElementById('view').hidden, { timeout: 15000 }, title);
};
const rowTitles = (page) => texts(page, '#view li.song .title');
const queueTitles = async (page) => {
  await view(page, '#/queue', 'Queue');
  return rowTitles(page);
};
// The queue as the server keeps it for the account.
const savedQueue = (page) => page.evaluate(async () => {
  const r = await fetch('/rest/getPlayQueue?f=json&c=test&v=1.16.1');
  const q = (await r.json())['subsonic-response'].playQueue || {};
  const entries = q.entry || [];
  return { titles: entries.map((e) => e.title), current: (entries.find((e) => e.id === q.current) || {}).title,
    position: q.position };
});
const clickRow = (page, title) => page.evaluate((t) => [...document.querySelectorAll('#view li.song .title')]
  .find((e) => e.textContent === t).click(), title);
// Clicks the button of that label above a list.
async function action(page, label) {
  const buttons = await page.$$('#view .actions button');
  const labels = await Promise.all(buttons.map((b) => b.evaluate((e) => e.textContent)));
  check(labels.includes(label), `no "${label}" among ${labels.join(', ')}`);
  if (labels.includes(label)) await buttons[labels.indexOf(label)].click();
}
// Opens a song's menu (by its button, as a person would) and picks an item.
const menu = async (page, title, item) => {
  const button = await page.$(`#view li.song .more[aria-label="Actions for ${title}"]`);
  await button.click();
  await page.waitForSelector('#song-menu:not([hidden])');
  const items = await page.$$('#song-menu button');
  const labels = await Promise.all(items.map((b) => b.evaluate((e) => e.textContent)));
  const at = labels.indexOf(item);
  check(at >= 0, `the menu of ${title} has no "${item}": ${labels.join(', ')}`);
  if (at >= 0) await items[at].click();
};
// A control a person can see and touch: inside the screen, on top of
// whatever else is there.
const reachable = (page, selector) => page.$eval(selector, (e) => {
  const box = e.getBoundingClientRect();
  if (box.width === 0 || box.left < 0 || box.top < 0 || box.right > innerWidth || box.bottom > innerHeight) return false;
  const hit = document.elementFromPoint(box.left + box.width / 2, box.top + box.height / 2);
  return Boolean(hit) && (hit === e || e.contains(hit));
});
const controls = ['#play', '#next', '#prev', '#seek'];
async function controlsReachable(page, where) {
  for (const c of controls) check(await reachable(page, c), `${where}: ${c} cannot be reached`);
}
const fits = async (page, where) => {
  const [wide, screen] = await page.evaluate(() => [document.documentElement.scrollWidth, innerWidth]);
  check(wide <= screen, `${where}: the page is ${wide} px wide on a ${screen} px screen`);
};
// Clicks (or taps) a slider at a fraction of its width.
async function slide(page, selector, fraction, tap) {
  const box = await (await page.$(selector)).boundingBox();
  const x = box.x + box.width * fraction;
  const y = box.y + box.height / 2;
  if (tap) await page.touchscreen.tap(x, y);
  else await page.mouse.click(x, y);
}
async function press(page, selector, tap) {
  if (tap) await page.tap(selector);
  else await page.click(selector);
}
async function axe(page, where) {
  // As a script of the test's own, which the page's policy does not cover.
  if (!await page.evaluate(() => Boolean(window.axe))) await page.evaluate(axeSource);
  const found = await page.evaluate(async () => {
    const result = await window.axe.run(document, { resultTypes: ['violations'] });
    return result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
      .map((v) => `${v.id} (${v.nodes.map((n) => n.target.join(' ')).slice(0, 3).join('; ')})`);
  });
  check(found.length === 0, `accessibility of ${where}: ${found.join(', ')}`);
}
// Light and dark: each is looked at, and its colours checked.
async function screenshots(page, name) {
  for (const scheme of ['light', 'dark']) {
    await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: scheme }]);
    await page.screenshot({ path: `${shots}/web-player-${name}-${scheme}.png` });
    if (scheme === 'dark') await axe(page, `the ${name} view in dark mode`);
  }
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
}

// Play, pause, seek and next with the player bar's own controls.
async function playerBar(page, where, tap) {
  await controlsReachable(page, where);
  const before = await text(page, '#now-title');
  const { paused } = await audio(page);
  if (paused) await press(page, '#play', tap);
  await playing(page, `${where}: play did not play`);
  await press(page, '#play', tap);
  await waitFor(page, `${where}: pause did not pause`, () => document.querySelector('audio.active').paused);
  await slide(page, '#seek', 0.5, tap);
  const { time } = await audio(page);
  const length = Number(await page.$eval('#seek', (e) => e.max));
  check(Math.abs(time - length / 2) < length * 0.1, `${where}: the slider's middle went to ${time} of ${length} s`);
  await press(page, '#next', tap);
  await waitFor(page, `${where}: next stayed on "${before}"`,
    (t) => document.getElementById('now-title').textContent !== t, before);
  await playing(page, `${where}: the next song did not play`);
}

try {
  const page = await open(1280, 800, false);
  const main = await page.goto(base, { waitUntil: 'load' });
  const csp = main.headers()['content-security-policy'] || '';
  check(csp.includes("default-src 'none'") && csp.includes("script-src 'self'"), `page CSP: ${csp}`);

  step = 'Sign-in with the keyboard';
  // Sign-in with the keyboard; a wrong password first shows the server's reason.
  await page.waitForSelector('#email', { visible: true });
  await axe(page, 'the sign-in page');
  await page.type('#email', email);
  await page.type('#password', 'not-the-password');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('signin-error').textContent !== '');
  check(/wrong e-mail address or password/.test(await text(page, '#signin-error')), 'the wrong password was not explained');
  await page.focus('#password');
  await page.keyboard.down('Control');
  await page.keyboard.press('a');
  await page.keyboard.up('Control');
  await page.type('#password', password);
  await page.keyboard.press('Enter');
  await page.waitForSelector('#nav', { visible: true });
  check(await page.evaluate(() => document.cookie) === '', 'the session cookie is readable by scripts');

  step = 'The library page';
  // The library page: albums with their covers.
  await page.waitForSelector('#view .grid a');
  const albums = await texts(page, '#view .grid .title');
  check(albums.includes('Blue Hours') && albums.includes('Night Walks'), `albums shown: ${albums.join(', ')}`);
  await noForeign(page, 'the album list');
  await page.waitForFunction(() => [...document.querySelectorAll('#view .grid img')]
    .every((img) => img.complete && img.naturalWidth > 0));
  await axe(page, 'the albums');

  step = 'Open the album through the keyboard';
  // Open the album through the keyboard: focus its link, press Enter.
  await page.evaluate(() => [...document.querySelectorAll('#view .grid a')]
    .find((a) => a.querySelector('.title').textContent === 'Blue Hours').focus());
  await page.keyboard.press('Enter');
  await page.waitForSelector('#view li.song');
  check(await text(page, '#view h2') === 'Blue Hours', 'the album page has another heading');
  const album = await rowTitles(page);
  check(album.join('|') === 'Aurora Fields|Blue Hour|Cold Harbour', `album songs: ${album.join(', ')}`);
  // A song's menu by keyboard: Enter opens it on its first item, the arrows
  // move, Escape closes it and returns to its button.
  await page.focus('#view li.song .more');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#song-menu:not([hidden])');
  await page.keyboard.press('ArrowDown');
  const item = await page.evaluate(() => document.activeElement.textContent);
  check(item === 'Add to the queue', `the second item of the menu is "${item}"`);
  await page.keyboard.press('Escape');
  check(await page.evaluate(() => document.getElementById('song-menu').hidden
    && document.activeElement.matches('#view li.song .more')), 'Escape did not close the menu onto its button');

  step = 'A click on a song with an empty queue plays the album from there';
  await clickRow(page, 'Aurora Fields');
  await playing(page, 'the first song did not play');
  await nowIs(page, 'Aurora Fields', 'the player bar does not show the song');
  const session = await page.evaluate(() => {
    const m = navigator.mediaSession.metadata;
    return m && { title: m.title, artist: m.artist, album: m.album, art: m.artwork.map((a) => a.src) };
  });
  check(session && session.title === 'Aurora Fields' && session.artist === 'Ann Band' && session.album === 'Blue Hours'
    && session.art.length > 0 && session.art.every((src) => src.startsWith(`${origin}/rest/getCoverArt?id=`)),
  `media session metadata: ${JSON.stringify(session)}`);
  check((await page.title()).startsWith('Aurora Fields · Ann Band'), `tab title: ${await page.title()}`);
  await axe(page, 'an album page, playing');
  await screenshots(page, 'desktop');

  step = 'Keys';
  // Keys: N to the next song, P back (early in a song), the right arrow seeks
  // ten seconds on, space pauses.
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('n');
  await nowIs(page, 'Blue Hour', 'N did not go to the next song');
  await page.keyboard.press('p');
  await nowIs(page, 'Aurora Fields', 'P did not go back to the song before');
  await page.waitForFunction(() => document.querySelector('audio.active').readyState >= 1);
  const before = (await audio(page)).time;
  await page.keyboard.press('ArrowRight');
  const after = (await audio(page)).time;
  check(after >= before + 9.5 && after < before + 11, `the right arrow moved from ${before} to ${after}`);
  await page.keyboard.press(' ');
  await waitFor(page, 'space did not pause', () => document.querySelector('audio.active').paused);
  await page.focus('#volume');
  for (let i = 0; i < 4; i += 1) await page.keyboard.press('ArrowLeft');
  const volume = await page.evaluate(() => document.querySelector('audio.active').volume);
  check(Math.abs(volume - 0.8) < 0.01, `volume after four steps down: ${volume}`);

  await playerBar(page, 'computer', false);
  await nowIs(page, 'Blue Hour', 'the player bar\'s next did not go to the second song');
  step = 'The song after the current one is loading already in the other element';
  await waitFor(page, 'the next song was not loaded ahead', () => [...document.querySelectorAll('audio.deck')]
    .some((a) => !a.classList.contains('active') && a.src.includes('/rest/stream') && a.readyState >= 2));

  step = 'A click on another album\'s song plays it and keeps the queue';
  await view(page, '#/search/Streetlights', 'Search: Streetlights');
  await clickRow(page, 'Streetlights');
  await nowIs(page, 'Streetlights', 'a song clicked in the search did not play');
  check((await queueTitles(page)).join('|') === 'Aurora Fields|Blue Hour|Streetlights|Cold Harbour',
    `a click replaced the queue: ${(await rowTitles(page)).join(', ')}`);

  step = 'Reordering';
  // Reordering: the last song dragged to the top, then one down with the keyboard.
  const handles = await page.$$('#view li.song .handle');
  const from = await handles[3].boundingBox();
  const to = await handles[0].boundingBox();
  await page.mouse.move(from.x + from.width / 2, from.y + from.height / 2);
  await page.mouse.down();
  await page.mouse.move(to.x + to.width / 2, to.y + 4, { steps: 5 });
  await page.mouse.up();
  await page.waitForFunction(() => document.querySelector('#view li.song .title').textContent === 'Cold Harbour')
    .catch(() => {});
  check((await rowTitles(page)).join('|') === 'Cold Harbour|Aurora Fields|Blue Hour|Streetlights',
    `after dragging: ${(await rowTitles(page)).join(', ')}`);
  await page.focus('#view li.song .handle');
  await page.keyboard.press('ArrowDown');
  await page.waitForFunction(() => document.querySelectorAll('#view li.song .title')[1]?.textContent === 'Cold Harbour')
    .catch(() => {});
  const moved = await rowTitles(page);
  check(moved.join('|') === 'Aurora Fields|Cold Harbour|Blue Hour|Streetlights', `after the arrow key: ${moved.join(', ')}`);
  check(await page.evaluate(() => document.activeElement.closest('li.song')?.querySelector('.title').textContent)
    === 'Cold Harbour', 'the focus did not stay with the moved song');
  check(await page.$eval('#view li.song.current .title', (e) => e.textContent) === 'Streetlights',
    'the playing song lost its mark');
  await axe(page, 'the queue');

  step = 'Shuffle keeps the playing song first and mixes the rest';
  // Shuffle keeps the playing song first and mixes the rest; off brings the
  // order back. (Three songs to mix: some try mixes them differently.)
  let mixed = false;
  for (let i = 0; i < 8 && !mixed; i += 1) {
    await page.click('#shuffle');
    await page.waitForFunction(() => document.getElementById('shuffle').getAttribute('aria-pressed') === 'true');
    const order = await rowTitles(page);
    check(order[0] === 'Streetlights' && [...order].sort().join('|') === [...moved].sort().join('|'),
      `shuffled: ${order.join(', ')}`);
    mixed = order.join('|') !== ['Streetlights', ...moved.slice(0, 3)].join('|');
    await page.click('#shuffle');
    await page.waitForFunction(() => document.getElementById('shuffle').getAttribute('aria-pressed') === 'false');
    check((await rowTitles(page)).join('|') === moved.join('|'), `shuffle off: ${(await rowTitles(page)).join(', ')}`);
  }
  check(mixed, 'eight shuffles left the queue as it was');

  step = 'Repeat';
  // Repeat: the last song's next goes nowhere, with "all" round to the first,
  // with "one" the song starts again when it ends.
  await page.click('#next');
  await sleep(300);
  check(await text(page, '#now-title') === 'Streetlights', 'next went past the end without repeat');
  await page.click('#repeat');
  check(await page.$eval('#repeat', (e) => e.getAttribute('aria-label')) === 'Repeat: the whole queue', 'repeat all');
  await page.click('#next');
  await nowIs(page, 'Aurora Fields', 'with repeat all, next did not go round to the first song');
  await page.click('#repeat');
  check(await page.$eval('#repeat', (e) => e.getAttribute('aria-label')) === 'Repeat: this song', 'repeat one');
  await playing(page, 'the first song did not play again');
  await page.evaluate(() => { const a = document.querySelector('audio.active'); a.currentTime = a.duration - 1; });
  await waitFor(page, 'repeat one did not start the song again', () => {
    const a = document.querySelector('audio.active');
    return document.getElementById('now-title').textContent === 'Aurora Fields' && !a.paused
      && a.currentTime > 0.2 && a.currentTime < 3;
  });
  await page.click('#repeat');

  step = 'The queue and the position come back after a reload';
  await clickRow(page, 'Cold Harbour');
  await nowIs(page, 'Cold Harbour', 'a click in the queue did not play that song');
  await playing(page, 'Cold Harbour did not play');
  await slide(page, '#seek', 0.6, false);
  await page.click('#play');
  const kept = (await audio(page)).time;
  await waitFor(page, 'the paused queue was not saved', async (t) => {
    const r = await fetch('/rest/getPlayQueue?f=json&c=test&v=1.16.1');
    const q = (await r.json())['subsonic-response'].playQueue;
    return q && Math.abs(q.position - t * 1000) < 1000;
  }, kept);
  const saved = await savedQueue(page);
  check(saved.titles.join('|') === moved.join('|') && saved.current === 'Cold Harbour',
    `saved queue: ${JSON.stringify(saved)}`);
  await page.reload({ waitUntil: 'load' });
  await nowIs(page, 'Cold Harbour', 'after a reload the song is not back');
  await waitFor(page, 'after a reload the position is not back', (t) => {
    const a = document.querySelector('audio.active');
    return a && a.readyState >= 1 && Math.abs(a.currentTime - t) < 1;
  }, kept);
  check((await queueTitles(page)).join('|') === moved.join('|'), `after a reload the queue is ${(await rowTitles(page)).join(', ')}`);
  await page.click('#play');
  await playing(page, 'the restored song did not play on');
  check((await audio(page)).time >= kept - 0.5, 'the restored song started over');

  step = 'A WMA song plays through a transcode';
  // A WMA song plays through a transcode: Opus where the browser plays it,
  // MP3 where it does not.
  await view(page, '#/search/Wax', 'Search: Wax');
  await clickRow(page, 'Wax Cylinder');
  await nowIs(page, 'Wax Cylinder', 'the WMA song did not start');
  await playing(page, 'the WMA song did not play');
  const wax = new URL((await audio(page)).src).searchParams;
  check(wax.get('format') === 'opus', `the WMA song was asked for as ${wax}`);
  check(streams.every((q) => q.get('id') !== wax.get('id') || q.get('format')),
    'the WMA song was asked for as it is stored, which the browser cannot play');
  // The slider seeks in a transcoded song too.
  await slide(page, '#seek', 0.5, false);
  await waitFor(page, 'the slider did not seek in the transcoded song', () => {
    const a = document.querySelector('audio.active');
    return !a.paused && a.currentTime > 8 && a.currentTime < 14;
  });
  await page.evaluate(() => {
    const own = HTMLMediaElement.prototype.canPlayType;
    HTMLMediaElement.prototype.canPlayType = function canPlayType(type) {
      return /opus/.test(type) ? '' : own.call(this, type);
    };
  });
  await clickRow(page, 'Wax Cylinder');
  await playing(page, 'the WMA song did not play as MP3');
  check((await audio(page)).src.includes('format=mp3'), `without Opus the WMA song was asked for as ${(await audio(page)).src}`);

  step = 'A song that nothing can play is reported and skipped';
  // A song that nothing can play is reported and skipped (to the album
  // queued after it).
  await view(page, '#/search/Night', 'Search: Night');
  await page.click('#view .grid a');
  await page.waitForSelector('#view li.song');
  await action(page, 'Add to the queue');
  await view(page, '#/search/Broken', 'Search: Broken');
  await clickRow(page, 'Broken Record');
  await waitFor(page, 'the broken song was not reported', () => /“Broken Record” could not be played and was skipped/
    .test(document.getElementById('toast').textContent));
  await waitFor(page, 'the broken song was not skipped', () => document.getElementById('now-title').textContent !== 'Broken Record');
  await playing(page, 'nothing played after the broken song');

  step = 'Playlists';
  // Playlists: one made from an album, a song added from its menu, renamed,
  // reordered by key, and one made and deleted.
  // One dialog may follow another at once: each is known by its title.
  const dialog = async (title, fill) => {
    await page.waitForFunction((t) => document.getElementById('ask').open
      && document.getElementById('ask-title').textContent === t, {}, title);
    await fill();
    await page.click('#ask-ok');
  };
  const closed = () => page.waitForFunction(() => !document.getElementById('ask').open);
  await view(page, '#/albums', 'Albums');
  await page.click('#view .grid a');
  await page.waitForSelector('#view li.song');
  await action(page, 'Add to a playlist…');
  await dialog('Add to a playlist', async () => page.click('#ask input[value=""]'));
  await dialog('New playlist', async () => page.type('#ask-name', 'Road trip'));
  await closed();
  await view(page, '#/search/Last Tram', 'Search: Last Tram');
  await menu(page, 'Last Tram', 'Add to a playlist…');
  await dialog('Add to a playlist', async () => {});
  await closed();
  await view(page, '#/playlists', 'Playlists');
  await page.click('#playlists a');
  await page.waitForSelector('#view li.song');
  check((await rowTitles(page)).join('|') === 'Old Tune|Last Tram', `the playlist holds ${(await rowTitles(page)).join(', ')}`);
  await action(page, 'Rename');
  await dialog('Rename the playlist', async () => {
    await page.$eval('#ask-name', (e) => { e.value = ''; });
    await page.type('#ask-name', 'Long drive');
  });
  await page.waitForFunction(() => document.querySelector('#view h2').textContent === 'Long drive');
  await page.focus('#view li.song:last-child .handle');
  await page.keyboard.press('ArrowUp');
  await page.waitForFunction(() => document.querySelector('#view li.song .title').textContent === 'Last Tram')
    .catch(() => failures.push(`the playlist's arrow-key move: ${0}`));
  await axe(page, 'a playlist');
  await view(page, '#/playlists', 'Playlists');
  await page.click('#view .actions .primary');
  await dialog('New playlist', async () => page.type('#ask-name', 'Scratch'));
  await page.waitForFunction(() => document.querySelector('#view h2').textContent === 'Scratch');
  page.once('dialog', (d) => d.accept());
  await action(page, 'Delete');
  await page.waitForFunction(() => document.querySelector('#view h2')?.textContent === 'Playlists'
    && document.getElementById('playlists'));
  check((await texts(page, '#playlists a')).join('|') === 'Long drive', `playlists: ${await texts(page, '#playlists a')}`);

  step = 'Favourites';
  // Favourites: a song starred from its menu, an album from its page.
  await view(page, '#/search/Aurora', 'Search: Aurora');
  await menu(page, 'Aurora Fields', 'Add to favourites');
  await page.waitForSelector('#view li.song .star:not([hidden])');
  await view(page, '#/search/Night', 'Search: Night');
  await page.click('#view .grid a');
  await page.waitForSelector('#view .actions [aria-pressed]');
  await page.click('#view .actions [aria-pressed]');
  await page.waitForSelector('#view .actions [aria-pressed="true"]');
  await view(page, '#/favourites', 'Favourites');
  check((await texts(page, '#view .grid .title')).join('|') === 'Night Walks'
    && (await rowTitles(page)).join('|') === 'Aurora Fields', `favourites: ${await text(page, '#view')}`);
  await axe(page, 'the favourites');
  // "Play all" replaces the queue, and Undo brings it back.
  const queueBefore = await queueTitles(page);
  await view(page, '#/favourites', 'Favourites');
  await action(page, 'Play all');
  await nowIs(page, 'Aurora Fields', '"Play all" did not play the favourites');
  check((await queueTitles(page)).join('|') === 'Aurora Fields', `after "Play all": ${await rowTitles(page)}`);
  await page.click('#toast button');
  await waitFor(page, 'Undo did not bring the queue back', (n) => document.querySelectorAll('#view li.song').length === n,
    queueBefore.length);
  check((await rowTitles(page)).join('|') === queueBefore.join('|'), `after Undo: ${await rowTitles(page)}`);

  step = 'The library\'s lists';
  // The library's lists, genres and years.
  await view(page, '#/explore', 'Explore');
  const shelves = await texts(page, '#view h3');
  check(shelves.join('|') === 'Recently added|Most played|Recently played', `explore: ${shelves.join(', ')}`);
  check((await texts(page, '#view .grid .title')).includes('Blue Hours'), 'recently added lacks Blue Hours');
  await noForeign(page, 'the lists');
  await axe(page, 'explore');
  await view(page, '#/genres', 'Genres');
  await page.evaluate(() => [...document.querySelectorAll('#genres a')].find((a) => a.textContent === 'Jazz').click());
  await page.waitForFunction(() => document.querySelector('#view h2')?.textContent === 'Jazz');
  check((await texts(page, '#view .grid .title')).join('|') === 'Blue Hours'
    && (await rowTitles(page)).length === 3, `the genre Jazz: ${await text(page, '#view')}`);
  await view(page, '#/years', 'Years');
  await page.evaluate(() => [...document.querySelectorAll('#view a')].find((a) => a.textContent === '2010s').click());
  await page.waitForFunction(() => document.querySelector('#view h2')?.textContent === '2010 – 2019');
  check((await texts(page, '#view .grid .title')).join('|') === 'Blue Hours', `the 2010s: ${await text(page, '#view')}`);
  await view(page, '#/random-songs', 'Random songs');
  check((await rowTitles(page)).length >= 5, 'random songs: too few');

  step = 'Setting up a phone';
  // Setting up a phone: the address, the user name, a password to copy.
  await view(page, '#/passwords', 'Player passwords');
  check(await text(page, '#server-address') === origin, `server address: ${await text(page, '#server-address')}`);
  check(await text(page, '#user-name') === email, `user name: ${await text(page, '#user-name')}`);
  await page.type('#player-name', 'browser phone');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#new-secret');
  const secret = await text(page, '#new-password');
  check(/^[0-9a-f]{24}$/.test(secret), `player password shown: ${secret}`);
  await page.click('#new-secret button[aria-label="Copy the password"]');
  check(await page.evaluate(() => navigator.clipboard.readText()) === secret, 'the copy button did not copy the password');
  await axe(page, 'the player passwords');
  const listed = await texts(page, '#player-passwords li');
  check(listed.some((t) => t.startsWith('browser phone') && t.includes('never used')), `player passwords: ${listed.join(' | ')}`);
  await page.evaluate(async (user, pass) => {
    await fetch(`/rest/ping?f=json&v=1.16.1&c=phone&u=${encodeURIComponent(user)}&p=${pass}`, { credentials: 'omit' });
  }, email, secret);
  await view(page, '#/songs', 'Songs');
  await view(page, '#/passwords', 'Player passwords');
  const used = await texts(page, '#player-passwords li');
  check(used.some((t) => t.startsWith('browser phone') && t.includes('last used')), `after a sign-in: ${used.join(' | ')}`);
  page.once('dialog', (d) => d.accept());
  await page.click('#player-passwords button[aria-label="Revoke browser phone"]');
  await page.waitForFunction(() => !document.querySelector('#player-passwords'));

  step = 'a phone';
  // --- a phone ------------------------------------------------------------------------
  await page.evaluate(() => document.querySelectorAll('audio').forEach((a) => a.pause()));
  const phone = await open(375, 812, true);
  await phone.goto(`${base}/#/albums`, { waitUntil: 'load' });
  await phone.waitForSelector('#view .grid a');
  await fits(phone, 'the albums on a phone');
  await controlsReachable(phone, 'the albums on a phone');
  const bar = await phone.$eval('#player', (e) => [e.getBoundingClientRect().bottom, innerHeight]);
  check(Math.abs(bar[0] - bar[1]) < 1, `the player bar ends at ${bar[0]} of ${bar[1]}`);
  await phone.evaluate(() => [...document.querySelectorAll('#view .grid a')]
    .find((a) => a.querySelector('.title').textContent === 'Blue Hours').click());
  await phone.waitForSelector('#view li.song');
  await fits(phone, 'an album on a phone');
  const rows = await phone.$$eval('#view li.song', (els) => els.map((e) => e.getBoundingClientRect().right));
  check(rows.every((r) => r <= 375), `song rows end at ${rows.join(', ')}`);
  await phone.tap('#view li.song .title');
  await playing(phone, 'a tap on a song did not play it on a phone');
  await playerBar(phone, 'phone', true);
  await phone.tap('#view li.song:last-child .more');
  await phone.waitForSelector('#song-menu:not([hidden])');
  check(await reachable(phone, '#song-menu button:last-child'), 'the song menu is off the screen');
  await phone.evaluate(() => [...document.querySelectorAll('#song-menu button')]
    .find((b) => b.textContent === 'Play next').click());
  const playingNow = await text(phone, '#now-title');
  await queueTitles(phone);
  const upNext = await phone.$eval('#view li.song.current', (e) => e.nextElementSibling?.querySelector('.title').textContent);
  check(upNext === 'Cold Harbour', `after "play next" on a phone the next song is ${upNext}`);
  // Taken out again from its menu; the playing song plays on.
  const queued = (await rowTitles(phone)).length;
  await phone.tap('#view li.song.current + li.song .more');
  await phone.waitForSelector('#song-menu:not([hidden])');
  await phone.evaluate(() => [...document.querySelectorAll('#song-menu button')]
    .find((b) => b.textContent === 'Remove from the queue').click());
  await waitFor(phone, 'a song removed from the queue stayed', (n) => document.querySelectorAll('#view li.song').length === n - 1, queued);
  check(await text(phone, '#view li.song.current .title') === playingNow, 'removing the next song changed the playing one');
  await fits(phone, 'the queue on a phone');
  await axe(phone, 'the queue on a phone');
  await phone.evaluate(() => window.scrollTo(0, document.body.scrollHeight));
  await controlsReachable(phone, 'the end of the queue on a phone');
  await phone.goBack();
  await phone.waitForFunction(() => document.querySelector('#view h2')?.textContent === 'Blue Hours');
  await screenshots(phone, 'phone');
  await phone.setViewport({ width: 320, height: 640, isMobile: true, hasTouch: true });
  for (const [hash, title] of [['#/albums', 'Albums'], ['#/queue', 'Queue'], ['#/passwords', 'Player passwords'],
    ['#/explore', 'Explore']]) {
    await view(phone, hash, title);
    await fits(phone, `${title} at 320 px`);
    await controlsReachable(phone, `${title} at 320 px`);
  }
  await phone.close();

  step = 'Signing out shows the sign-in form';
  // Signing out shows the sign-in form, and a reload stays signed out.
  await page.click('#signout');
  await page.waitForSelector('#signin-view', { visible: true });
  await page.reload({ waitUntil: 'load' });
  await page.waitForSelector('#signin-view', { visible: true });
  step = 'The help page the desktop program opens reads without signing in';
  await page.goto(`${base}/#/faq`, { waitUntil: 'load' });
  await page.waitForSelector('section[id="/faq"] h2', { visible: true })
    .catch(() => failures.push('the help page did not show'));
  check(await page.$eval('#signin-view', (e) => e.hidden), 'the help page shows the sign-in form');
} catch (error) {
  failures.push(`stopped at "${step}": ${error.message}`);
  for (const p of await browser.pages()) {
    await p.screenshot({ path: `${shots}/web-player-failed-${p.viewport()?.width}.png` }).catch(() => {});
  }
} finally {
  failures.push(...problems);
  await browser.close();
}
if (failures.length) {
  for (const f of failures) console.log(`FAIL ${f}`);
  process.exit(1);
}
console.log('web player: all checks passed');
