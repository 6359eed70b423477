// Times the web player in headless Chromium: a signed-in browser opens the
// server's address, and the album list of the library is painted. Each run is
// a fresh browser profile (nothing cached). Prints one line per run, then the
// medians, and the bytes of the page as served (the document and its /web/
// files, without the library's answers and covers).
//   node web_first_paint.mjs WEB_PLAYER_DIR BASE_URL EMAIL PASSWORD RUNS
import { createRequire } from 'node:module';

const [dir, base, email, password, runs] = process.argv.slice(2);
const puppeteer = (await import(createRequire(`${dir}/package.json`).resolve('puppeteer-core'))).default;
const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor((sorted.length - 1) / 2)];
};

const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--mute-audio'],
});
const paints = [];
const libraries = [];
let bytes = 0;
try {
  for (let run = 0; run < Number(runs); run += 1) {
    const context = await browser.createBrowserContext();
    const page = await context.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    // Signed in as a returning visitor is: the session cookie is there.
    await page.goto(`${base}/#/faq`, { waitUntil: 'load' });
    await page.evaluate(async (e, p) => {
      await fetch('/web/api/signin', {
        method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ email: e, password: p }),
      });
    }, email, password);
    await page.goto('about:blank');
    // The time the album list is in the page and the frame that shows it painted.
    await page.evaluateOnNewDocument(() => {
      new MutationObserver((_, observer) => {
        if (!document.querySelector('#view .grid a')) return;
        observer.disconnect();
        requestAnimationFrame(() => setTimeout(() => { window.libraryPainted = performance.now(); }, 0));
      }).observe(document, { childList: true, subtree: true });
    });
    await page.goto(`${base}/#/albums`, { waitUntil: 'load' });
    await page.waitForFunction(() => window.libraryPainted, { timeout: 30000 });
    const figures = await page.evaluate(() => {
      const paint = performance.getEntriesByName('first-contentful-paint')[0];
      const served = performance.getEntriesByType('navigation')
        .concat(performance.getEntriesByType('resource').filter((r) => new URL(r.name).pathname.startsWith('/web/')))
        .reduce((sum, r) => sum + r.decodedBodySize, 0);
      return {
        paint: paint ? paint.startTime : NaN,
        library: window.libraryPainted,
        albums: document.querySelectorAll('#view .grid li').length,
        served,
      };
    });
    paints.push(figures.paint);
    libraries.push(figures.library);
    bytes = figures.served;
    console.log(`run ${run + 1}: first paint ${figures.paint.toFixed(0)} ms, album list painted `
      + `${figures.library.toFixed(0)} ms (${figures.albums} albums), page ${figures.served} bytes`);
    await context.close();
  }
} finally {
  await browser.close();
}
console.log(`median: first paint ${median(paints).toFixed(0)} ms, album list painted ${median(libraries).toFixed(0)} ms`);
console.log(`the page as served: ${bytes} bytes (${(bytes / 1024).toFixed(1)} KiB)`);
