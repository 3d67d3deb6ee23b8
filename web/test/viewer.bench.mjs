// Times of the viewer in headless Chromium beside a bare page that only
// fetches and parses the same XML files:
// node viewer.bench.mjs <viewer address> <album file> <video item (1-based)> [runs]
import { launch } from './browser.mjs';

const [base, albumFile, videoItem, runsArg] = process.argv.slice(2);
const runs = Number(runsArg ?? 5);
const timeout = 120000;

// The reference: the index and the album file, fetched and parsed, nothing shown.
const barePage = `<!doctype html><script type="module">
const parse = (t) => new DOMParser().parseFromString(t, 'application/xml');
const index = parse(await (await fetch('../xml/albums.xml', { cache: 'no-store' })).text());
const album = parse(await (await fetch('../xml/${encodeURIComponent(albumFile)}', { cache: 'no-store' })).text());
window.doneAt = performance.now();
window.counted = [index.getElementsByTagName('album').length, album.documentElement.children.length];
</script>`;

// Milliseconds from the start of navigation until `shown` holds in the page.
async function timeTo(browser, url, shown, arg) {
  const page = await browser.newPage();
  await page.setCacheEnabled(false);
  await page.setRequestInterception(true);
  page.on('request', (r) => (r.url() === `${base}bare.html`
    ? r.respond({ status: 200, contentType: 'text/html', body: barePage }) : r.continue()));
  await page.goto(url);
  const ms = await page.waitForFunction(shown, { timeout, polling: 'raf' }, arg).then((h) => h.jsonValue());
  await page.close();
  return ms;
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

async function measure(browser, url, shown, arg) {
  const times = [];
  for (let i = 0; i < runs; i++) times.push(await timeTo(browser, url, shown, arg));
  return median(times);
}

const browser = await launch();
const album = `${base}#/a/${encodeURIComponent(albumFile)}`;
const reference = await measure(browser, `${base}bare.html`, () => window.doneAt ?? false);
const firstAlbum = await measure(browser, album, () => {
  const img = document.querySelector('.grid img');
  return document.querySelectorAll('.grid > li').length > 0 && img?.complete && img.naturalWidth > 0 && performance.now();
});
const firstPhoto = await measure(browser, `${album}/1`, () => {
  const img = document.querySelector('img.photo');
  return img?.complete && img.naturalWidth > 0 && performance.now();
});
const firstFrame = await measure(browser, `${album}/${videoItem}`, () => {
  const v = document.querySelector('figure.item video');
  return v?.readyState >= 2 && performance.now();
});
await browser.close();

const line = (what, ms) => console.log(`  ${what.padEnd(58)} ${ms.toFixed(0).padStart(6)} ms  (${(ms / reference).toFixed(1)} x the reference)`);
console.log(`  ${'bare page: fetch and parse albums.xml and the album file'.padEnd(58)} ${reference.toFixed(0).padStart(6)} ms  (reference)`);
line('viewer: first album shown (tiles, first picture in)', firstAlbum);
line('viewer: first photo shown', firstPhoto);
line('viewer: first frame of a video', firstFrame);
console.log(`  (median of ${runs} runs each, from the start of navigation, cache off)`);
