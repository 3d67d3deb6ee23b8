// The viewer in a real browser, against a gallery the test program made and
// serves: node viewer.test.mjs <viewer address> <expectations.json> <scenario>...
// Prints "ok - name" or "not ok - name: why" for each scenario.
import { readFileSync } from 'node:fs';
import { launch, ready, recordRequests } from './browser.mjs';

const [base, expectFile, ...names] = process.argv.slice(2);
const expected = expectFile && expectFile !== '-' ? JSON.parse(readFileSync(expectFile, 'utf8')) : {};
const shots = process.env.QM_VIEWER_SCREENSHOTS;
const T = { timeout: 60000 };

function check(condition, message) {
  if (!condition) throw new Error(message);
}

const text = (page, selector) => page.$eval(selector, (e) => e.textContent.trim());
const texts = (page, selector) => page.$$eval(selector, (es) => es.map((e) => e.textContent.trim()));
const waitHash = (page, hash) => page.waitForFunction((h) => (decodeURIComponent(location.hash) || '#/') === h, T, hash);
const heading = (page, title) => page.waitForFunction((t) => document.querySelector('main h1')?.textContent === t, T, title);
// The item view of the album's n-th item, once rendered.
const showsItem = (page, n, label) => page.waitForFunction((n, label) => location.hash.endsWith(`/${n}`)
  && document.querySelector('main h1')?.textContent.startsWith(label) && document.querySelector('figure.item'), T, n, label);
const picturesShown = (page, selector) => page.waitForFunction((s) => {
  const img = document.querySelector(s);
  return img && img.complete && img.naturalWidth > 0;
}, T, selector);

async function open(page, hash = '') {
  await page.goto(base + hash);
  await ready(page);
}

const scenarios = {
  // Collections, albums, their thumbnails, counts and descriptions, and the path back up.
  async tree(page) {
    await open(page);
    const titles = await texts(page, '.card .card-title');
    check(JSON.stringify(titles) === JSON.stringify(expected.top), `top level: ${titles}`);
    const holiday = await page.$eval('.card.album:nth-of-type(3)', (e) => e.textContent);
    check(holiday.includes('5 items') && holiday.includes('Sun & sea <warm>'), `album card: ${holiday}`);
    await picturesShown(page, '.card img');
    if (shots) await page.screenshot({ path: `${shots}/viewer-top.png` });
    await page.click('.card a');
    await heading(page, 'Travels');
    check(await text(page, '.card.collection .count') === 'Collection \u00b7 1 collection, 1 album', 'the count of a collection');
    await page.click('.card.collection a');
    await heading(page, 'Europe');
    // Forty collections deep, then the way back up by the path.
    await page.goto(`${base}#/a/album_Deep.xml`);
    await heading(page, 'Deep album');
    const path = await texts(page, '#path li');
    check(path.length === 44 && path[3] === 'Level 1' && path[42] === 'Level 40', `path: ${path.length} ${path.slice(0, 4)}`);
    await page.click('#path li:nth-child(3) a');
    await heading(page, 'Europe');
    await page.click('#path li:first-child a');
    await waitHash(page, '#/');
  },

  // 5,000 items: only the pictures in view are asked for.
  async bigAlbum(page) {
    const requests = recordRequests(page);
    const small = () => requests.filter((u) => /\/img\/img_big_\d+_sm\.jpg$/.test(u));
    const started = Date.now();
    await open(page, '#/a/album_Big.xml');
    await page.waitForFunction(() => document.querySelectorAll('.grid > li').length === 5000, T);
    await picturesShown(page, '.grid img');
    const shownMs = Date.now() - started;
    await page.waitForNetworkIdle({ idleTime: 300, timeout: 60000 });
    // Only pictures near the window were asked for (tiles far off are never laid out, so only those asked for are measured).
    const near = () => page.$$eval('.grid img[src]', (imgs) => imgs.map((i) => {
      const r = i.getBoundingClientRect();
      return r.bottom > -innerHeight && r.top < 2 * innerHeight;
    }));
    const first = small().length;
    const asked = await near();
    check(first > 0 && first < 100 && asked.length === first && asked.every(Boolean), `${first} small pictures asked for, ${asked.filter(Boolean).length} of them near the window`);
    // To the end of the grid by the keyboard: the last pictures come, not the ones between.
    await page.focus('.grid a[tabindex="0"]');
    await page.keyboard.press('End');
    await page.waitForFunction(() => document.activeElement?.dataset.index === '4999', T);
    await picturesShown(page, '.grid li:last-child img');
    await page.waitForNetworkIdle({ idleTime: 300, timeout: 60000 });
    check(small().length < 2 * first + 20 && (await near()).filter(Boolean).length < 100, `${small().length} small pictures after going to the end`);
    if (shots) {
      await page.keyboard.press('Home');
      await picturesShown(page, '.grid li:first-child img');
      await page.screenshot({ path: `${shots}/viewer-album.png` });
    }
    console.log(`# 5,000 items shown in ${shownMs} ms; ${first} small pictures asked for at first`);
  },

  // A photo and its neighbours: keys, buttons, swipes, the large picture, Escape.
  async photo(page) {
    await page.setViewport({ width: 1600, height: 1200, hasTouch: true });
    await open(page, '#/a/album_Holiday.xml/2');
    await picturesShown(page, 'img.photo');
    check(await page.$eval('img.photo', (i) => i.alt) === 'Harbour', 'the photo\u2019s alt text');
    const caption = await text(page, 'figcaption');
    check(['Harbour', '7 March 2008', 'Porto', 'Boats waiting\nfor the tide'].every((t) => caption.includes(t)), `caption: ${caption}`);
    await page.keyboard.press('ArrowRight');
    await showsItem(page, 3, 'Bridge');
    check(await page.$('time[datetime="2008-03-07"]') !== null, 'an ISO date is marked up as a date');
    // The normal picture is smaller than the screen: the large one takes its place.
    await page.waitForFunction(() => document.querySelector('img.photo')?.dataset.size === 'large', T);
    await page.keyboard.press('ArrowLeft');
    await showsItem(page, 2, 'Harbour');
    await page.click('button.next');
    await showsItem(page, 3, 'Bridge');
    check(await page.evaluate(() => document.activeElement?.className) === 'next', 'the focus stays on Next');
    const box = await (await page.$('figure.item')).boundingBox();
    await page.touchscreen.touchStart(box.x + box.width * 0.8, box.y + box.height / 2);
    await page.touchscreen.touchMove(box.x + box.width * 0.2, box.y + box.height / 2);
    await page.touchscreen.touchEnd();
    await showsItem(page, 4, 'Photo 4');
    await page.keyboard.press('z');
    await page.waitForSelector('figure.zoomed', T);
    await page.keyboard.press('Escape');
    await waitHash(page, '#/a/album_Holiday.xml');
    await page.waitForFunction(() => document.activeElement?.dataset.index === '3', T);
    // The first photo has no large picture and no way further back.
    await page.goto(`${base}#/a/album_Holiday.xml/1`);
    await showsItem(page, 1, 'Beach');
    check(await page.$eval('button.prev', (b) => b.disabled), 'no previous photo before the first');
    if (shots) {
      await page.setViewport({ width: 1280, height: 800 });
      await page.goto(`${base}#/a/album_Holiday.xml/2`);
      await picturesShown(page, 'img.photo');
      await page.screenshot({ path: `${shots}/viewer-photo.png` });
    }
  },

  // Every view has its address: reload, back and forward.
  async history(page) {
    await open(page, '#/a/album_Holiday.xml/2');
    await picturesShown(page, 'img.photo');
    await page.reload();
    await ready(page);
    await picturesShown(page, 'img.photo');
    check(await page.$eval('img.photo', (i) => i.alt) === 'Harbour', 'the photo after a reload');
    await open(page);
    await page.click('.card.album:nth-of-type(3) a');
    await heading(page, 'Holiday');
    await page.waitForSelector('.grid li:first-child a', T);
    await page.click('.grid li:first-child a');
    await showsItem(page, 1, 'Beach');
    await page.goBack();
    await heading(page, 'Holiday');
    await page.goBack();
    await waitHash(page, '#/');
    await page.goForward();
    await heading(page, 'Holiday');
    await page.goForward();
    await showsItem(page, 1, 'Beach');
    await picturesShown(page, 'img.photo');
    await page.goto(`${base}#/a/no-such-album.xml`);
    await heading(page, 'Not found');
  },

  // An H.264 FLV plays through mpegts.js and seeks; a Spark-only one says what it needs.
  async video(page) {
    await open(page, '#/a/album_Films.xml/1');
    await page.waitForSelector('figure[data-state="ready"] video', T);
    const streams = await texts(page, '#stream-choice option');
    check(streams.length === 2 && streams.some((s) => s.startsWith('320 \u00d7 240')), `streams: ${streams}`);
    check((await page.$eval('video', (v) => v.poster)).endsWith('/img/vthumb_h264.jpg'), 'the thumbnail is the poster');
    await page.$eval('video', (v) => v.play());
    await page.waitForFunction(() => document.querySelector('video').currentTime > 0.5, T);
    const seekTo = 4;
    await page.$eval('video', (v, t) => { v.currentTime = t; }, seekTo);
    await page.waitForFunction((t) => { const v = document.querySelector('video'); return v.currentTime > t + 0.3; }, T, seekTo);
    const state = await page.$eval('figure.item', (f) => ({ state: f.dataset.state, error: document.querySelector('video').error }));
    check(state.state === 'ready' && state.error === null, `after seeking: ${JSON.stringify(state)}`);
    // The other stream, from the same place in the movie.
    const other = 1 - Number(await page.$eval('#stream-choice', (s) => s.value));
    const at = await page.$eval('video', (v) => v.currentTime);
    await page.select('#stream-choice', String(other));
    await page.waitForFunction((f) => document.querySelector('figure.item').dataset.stream === f, T,
      other === 0 ? 'vstream_h264_640.flv' : 'vstream_h264_320.flv');
    await page.waitForFunction((t) => {
      const v = document.querySelector('video');
      return document.querySelector('figure.item').dataset.state === 'ready' && v.currentTime > t;
    }, T, at);
    if (shots) {
      await page.$eval('video', (v) => { v.pause(); v.currentTime = 2; });
      await page.waitForFunction(() => document.querySelector('video').readyState >= 2 && !document.querySelector('video').seeking, T);
      await page.screenshot({ path: `${shots}/viewer-video.png` });
    }
    await page.goto(`${base}#/a/album_Films.xml/2`);
    await page.waitForSelector('figure[data-state="unplayable"]', T);
    const message = await text(page, '.video-message');
    check(message.includes('needs a stream a browser can play') && message.includes('Sorenson Spark'), `message: ${message}`);
    await picturesShown(page, 'img.poster');
    check(await page.$('video') === null, 'no player for a Spark-only video');
  },

  // Keyboard, alt texts, visible focus, phone and large screens, reduced motion.
  async access(page) {
    await page.emulateMediaFeatures([{ name: 'prefers-reduced-motion', value: 'reduce' }]);
    await page.setViewport({ width: 375, height: 700, isMobile: true, hasTouch: true });
    await open(page, '#/a/album_Holiday.xml');
    await page.waitForSelector('.grid', T);
    const overflow = await page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
    check(overflow <= 0, `the phone layout is ${overflow} px too wide`);
    check(await page.$$eval('img', (is) => is.every((i) => i.hasAttribute('alt'))), 'every picture has an alt text');
    await page.keyboard.press('Tab');
    check(await page.evaluate(() => document.activeElement.id) === 'skip', 'Tab reaches the skip link first');
    await page.focus('.grid a[tabindex="0"]');
    await page.keyboard.press('ArrowRight');
    check(await page.evaluate(() => document.activeElement.dataset.index) === '1', 'the arrow keys move through the grid');
    const outline = await page.evaluate(() => getComputedStyle(document.activeElement).outlineStyle);
    check(outline !== 'none', 'the focus is visible');
    await page.keyboard.press('Enter');
    await showsItem(page, 2, 'Harbour');
    await picturesShown(page, 'img.photo');
    check(!(await page.$eval('figure.item', (f) => f.classList.contains('appear'))), 'no animation when motion is reduced');
    const phoneOverflow = await page.evaluate(() => document.documentElement.scrollWidth - innerWidth);
    check(phoneOverflow <= 0, `the phone's photo view is ${phoneOverflow} px too wide`);
    await page.setViewport({ width: 2560, height: 1440 });
    await open(page, '#/a/album_Big.xml');
    await page.waitForSelector('.grid', T);
    const columns = await page.$$eval('.grid > li:nth-child(-n+40)', (ls) => ls.filter((l) => l.offsetTop === ls[0].offsetTop).length);
    check(columns >= 10, `${columns} columns on a large screen`);
  },

  // A gallery as other hosts serve it: the viewer copied into it, files of
  // version 2.0 and 2.1 with entities, odd names, both date forms, empty and
  // missing values; what shows must be what the program reads.
  async copied(page) {
    await open(page);
    const titles = await texts(page, '.card .card-title');
    check(JSON.stringify(titles) === JSON.stringify(expected.top), `top level: ${JSON.stringify(titles)}`);
    for (const album of expected.albums) {
      await page.goto(`${base}#/a/${encodeURIComponent(album.file)}`);
      await heading(page, album.title.trim() ? album.title : 'Untitled album');
      if (album.items.length === 0) {
        await page.waitForSelector('.empty', T);
        continue;
      }
      await page.waitForSelector('.grid', T);
      const shown = await page.$$eval('.grid > li', (ls) => ls.map((l) => ({
        title: l.querySelector('.caption')?.textContent ?? '',
        meta: l.querySelector('.meta')?.textContent ?? '',
        description: l.querySelector('.description')?.textContent ?? '',
        kind: l.classList.contains('video') ? 'video' : 'photo',
      })));
      const want = album.items.map((i) => ({
        title: i.title.trim() ? i.title : '',
        meta: [i.date, i.location].filter(Boolean).join(' \u00b7 '),
        description: i.description.trim() ? i.description : '',
        kind: i.kind,
      }));
      check(JSON.stringify(shown) === JSON.stringify(want), `album ${album.title}: ${JSON.stringify(shown)} != ${JSON.stringify(want)}`);
      if (album.items[0].kind === 'photo' && album.items[0].image) await picturesShown(page, '.grid img');
    }
  },
};

const browser = await launch();
let failed = 0;
const foreign = [];
const origin = new URL(base).origin;
for (const name of names) {
  const page = await browser.newPage();
  page.on('request', (r) => {
    const u = r.url();
    if (!u.startsWith(origin) && !u.startsWith('data:') && !u.startsWith('blob:')) foreign.push(u);
  });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  const started = Date.now();
  try {
    await scenarios[name](page);
    console.log(`# ${name}: ${Date.now() - started} ms`);
    check(errors.length === 0, `script errors: ${errors.join('; ')}`);
    console.log(`ok - ${name}`);
  } catch (e) {
    failed++;
    console.log(`not ok - ${name}: ${e.message.split('\n')[0]} (at ${await page.evaluate(() => location.hash).catch(() => '?')})`);
  }
  await page.close();
}
if (foreign.length) {
  failed++;
  console.log(`not ok - requests to other hosts: ${foreign.join(' ')}`);
}
await browser.close();
process.exit(failed ? 1 : 0);
