// Drives the web player in headless Chromium the way a person would: signs
// in (after one wrong password), opens an album, plays a song, skips, seeks
// and turns the volume down with the keyboard, searches, makes a player
// password, signs out. FOREIGN is a word found only in another account's
// songs: no page may show it. Prints what failed and exits non-zero; saves a
// screenshot of the library page.
//   node browser.mjs BASE_URL EMAIL PASSWORD ALBUM FOREIGN SCREENSHOT.png
import puppeteer from 'puppeteer-core';

const [base, email, password, album, foreign, screenshot] = process.argv.slice(2);
const origin = new URL(base).origin;
const failures = [];
const check = (ok, what) => { if (!ok) failures.push(what); };
const viewText = (page) => page.$eval('#view', (e) => e.textContent);
const noForeign = async (page, where) => {
  const text = await viewText(page);
  check(!text.includes(foreign), `${where} shows another account's "${foreign}"`);
};

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--mute-audio',
    '--disable-gpu', '--no-first-run'],
});
const page = await browser.newPage();
const problems = [];
try {
  await page.setViewport({ width: 1100, height: 760 });
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
  });

  const main = await page.goto(base, { waitUntil: 'load' });
  const csp = main.headers()['content-security-policy'] || '';
  check(csp.includes("default-src 'none'") && csp.includes("script-src 'self'"), `page CSP: ${csp}`);

  // Sign-in with the keyboard; a wrong password first shows the server's reason.
  await page.waitForSelector('#email', { visible: true });
  await page.type('#email', email);
  await page.type('#password', 'not-the-password');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.getElementById('signin-error').textContent !== '');
  const refusal = await page.$eval('#signin-error', (e) => e.textContent);
  check(/wrong e-mail address or password/.test(refusal), `wrong password said: ${refusal}`);
  await page.focus('#password');
  await page.keyboard.down('Control');
  await page.keyboard.press('a');
  await page.keyboard.up('Control');
  await page.type('#password', password);
  await page.keyboard.press('Enter');
  await page.waitForSelector('#nav', { visible: true });
  check(await page.evaluate(() => document.cookie) === '', 'the session cookie is readable by scripts');

  // The library page: albums with their covers.
  await page.waitForSelector('#view .grid a');
  const albums = await page.$$eval('#view .grid .title', (els) => els.map((e) => e.textContent));
  check(albums.length >= 2 && albums.includes(album), `albums shown: ${albums.join(', ')}`);
  await noForeign(page, 'the album list');
  await page.waitForFunction(() => [...document.querySelectorAll('#view .grid img')]
    .every((img) => img.complete && img.naturalWidth > 0));
  await page.screenshot({ path: screenshot });

  // Open the album through the keyboard: focus its link, press Enter.
  const target = album;
  await page.evaluate((name) => [...document.querySelectorAll('#view .grid a')]
    .find((a) => a.querySelector('.title').textContent === name).focus(), album);
  await page.keyboard.press('Enter');
  await page.waitForSelector('#view table.songs tbody tr');
  const heading = await page.$eval('#view h2', (e) => e.textContent);
  check(heading === target, `album page heading "${heading}", wanted "${target}"`);
  const titles = await page.$$eval('#view table.songs tbody button.link', (els) => els.map((e) => e.textContent));
  check(titles.length >= 2, `album songs: ${titles.join(', ')}`);

  // Play: the audio element's clock advances.
  await page.click('#view table.songs tbody button.link');
  try {
    await page.waitForFunction(() => {
      const a = document.getElementById('audio');
      return !a.paused && a.currentTime > 0.5;
    }, { timeout: 15000 });
  } catch {
    failures.push('the audio element did not advance: ' + await page.evaluate(() => {
      const a = document.getElementById('audio');
      return `paused=${a.paused} time=${a.currentTime} error=${a.error && a.error.code} src=${a.src}`;
    }));
  }
  const nowTitle = await page.$eval('#now-title', (e) => e.textContent);
  check(nowTitle === titles[0], `now playing "${nowTitle}", wanted "${titles[0]}"`);

  // Keys: N goes to the next song of the album, P back to the first (early
  // in a song), the right arrow seeks ten seconds on, space pauses.
  const nowIs = (t, what) => page.waitForFunction(
    (want) => document.getElementById('now-title').textContent === want, {}, t)
    .catch(() => failures.push(what));
  await page.evaluate(() => document.activeElement.blur());
  await page.keyboard.press('n');
  await nowIs(titles[1], 'N did not go to the next song');
  await page.keyboard.press('p');
  await nowIs(titles[0], 'P did not go back to the song before');
  await page.waitForFunction(() => document.getElementById('audio').readyState >= 1);
  const before = await page.evaluate(() => document.getElementById('audio').currentTime);
  await page.keyboard.press('ArrowRight');
  // A seek moves the position at once; playing alone would take seconds.
  const after = await page.evaluate(() => document.getElementById('audio').currentTime);
  check(after >= before + 9.5 && after < before + 11, `the right arrow moved from ${before} to ${after}`);
  await page.keyboard.press(' ');
  await page.waitForFunction(() => document.getElementById('audio').paused)
    .catch(() => failures.push('space did not pause'));
  // The volume slider, moved with the keyboard.
  await page.focus('#volume');
  for (let i = 0; i < 4; i += 1) await page.keyboard.press('ArrowLeft');
  const volume = await page.evaluate(() => document.getElementById('audio').volume);
  check(Math.abs(volume - 0.8) < 0.01, `volume after four steps down: ${volume}`);

  // The queue holds the album, the playing song marked.
  await page.click('nav a[href="#/queue"]');
  await page.waitForFunction(() => document.querySelector('#view h2')?.textContent === 'Queue');
  const queued = await page.$$eval('#view table.songs tbody tr', (rows) => rows.map((r) => ({
    title: r.querySelector('button.link').textContent, current: r.classList.contains('current'),
  })));
  check(JSON.stringify(queued.map((q) => q.title)) === JSON.stringify(titles)
    && queued.findIndex((q) => q.current) === 0, `queue: ${JSON.stringify(queued)}`);

  // Every song of the account, none of another's.
  await page.click('nav a[href="#/songs"]');
  await page.waitForFunction(() => document.querySelector('#view h2')?.textContent === 'Songs');
  await page.waitForSelector('#view table.songs tbody tr');
  const songCount = await page.$$eval('#view table.songs tbody tr', (rows) => rows.length);
  check(songCount === 5, `the songs page lists ${songCount} songs`);
  await noForeign(page, 'the songs page');

  // Search: "/" focuses the field.
  await page.keyboard.press('/');
  await page.keyboard.type(titles[0].split(' ')[0]);
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => location.hash.startsWith('#/search/')
    && document.querySelector('#view h2')?.textContent.startsWith('Search:')
    && document.querySelector('#view table.songs tbody button.link'));
  const found = await page.$$eval('#view table.songs tbody button.link', (els) => els.map((e) => e.textContent));
  check(found.includes(titles[0]), `search found: ${found.join(', ')}`);
  await noForeign(page, 'the search results');

  // A player password is made, shown once, listed, and revoked.
  await page.click('nav a[href="#/passwords"]');
  await page.waitForSelector('#player-name');
  await page.type('#player-name', 'browser phone');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#new-secret');
  const secret = await page.$eval('#new-secret strong', (e) => e.textContent);
  check(/^[0-9a-f]{24}$/.test(secret), `player password shown: ${secret}`);
  const listed = await page.$$eval('#player-passwords li', (els) => els.map((e) => e.textContent));
  check(listed.some((t) => t.startsWith('browser phone')), `player passwords: ${listed.join(' | ')}`);
  page.once('dialog', (d) => d.accept());
  await page.click('#player-passwords button[aria-label="Revoke browser phone"]');
  await page.waitForFunction(() => !document.querySelector('#player-passwords') ||
    ![...document.querySelectorAll('#player-passwords li')].some((li) => li.textContent.startsWith('browser phone')));

  // Signing out shows the sign-in form, and a reload stays signed out.
  await page.click('#signout');
  await page.waitForSelector('#signin-view', { visible: true });
  await page.reload({ waitUntil: 'load' });
  await page.waitForSelector('#signin-view', { visible: true });

  // The help page the desktop program opens reads without signing in.
  await page.goto(`${base}/#/faq`, { waitUntil: 'load' });
  await page.waitForSelector('section[id="/faq"] h2', { visible: true })
    .catch(() => failures.push('the help page did not show'));
  check(await page.$eval('#signin-view', (e) => e.hidden), 'the help page shows the sign-in form');

} catch (error) {
  failures.push(`stopped: ${error.message}`);
  await page.screenshot({ path: screenshot.replace(/\.png$/, '-failed.png') }).catch(() => {});
} finally {
  failures.push(...problems);
  await browser.close();
}
if (failures.length) {
  for (const f of failures) console.log(`FAIL ${f}`);
  process.exit(1);
}
console.log('web player: all checks passed');
