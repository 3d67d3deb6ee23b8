// An album's items as a grid of small pictures. Thousands of items stay
// quick: tiles off screen are not laid out, their pictures are fetched as
// they come into view, and the grid is one stop of the Tab key, moved
// through with the arrow keys.

import { dateElement, h, plural } from '../dom.js';
import { lazyImage } from '../lazy.js';
import { itemHref } from '../routes.js';
import { titleOf } from './tree.js';

export function itemLabel(item, index) {
  if (item.title.trim()) return item.title;
  return `${item.kind === 'video' ? 'Video' : 'Photo'} ${index + 1}`;
}

function tile(album, item, index, store) {
  const picture = item.kind === 'video' ? item.thumb : item.small;
  const img = lazyImage(h('img', { alt: item.title.trim() ? '' : itemLabel(item, index), decoding: 'async' }),
    store.imageUrl(picture));
  const meta = [dateElement(item.date), item.location && h('span', { class: 'location', text: item.location })];
  return h('li', { class: `tile ${item.kind}` },
    h('a', { href: itemHref(album, index, store), tabindex: -1, 'data-index': index },
      h('span', { class: 'thumb' }, img, item.kind === 'video' && h('span', { class: 'badge', text: 'Video' })),
      item.title.trim() && h('span', { class: 'caption', text: item.title }),
      (item.date || item.location) && h('span', { class: 'meta' }, meta.filter(Boolean).flatMap((m, i) => (i ? [' \u00b7 ', m] : [m]))),
      item.description.trim() && h('span', { class: 'description', text: item.description })));
}

function columns(grid) {
  const tiles = grid.children;
  if (tiles.length < 2) return 1;
  const top = tiles[0].offsetTop;
  let n = 1;
  while (n < tiles.length && tiles[n].offsetTop === top) n++;
  return n;
}

function rovingFocus(grid, renderAll) {
  const links = () => grid.querySelectorAll('a');
  const focusAt = (i) => {
    renderAll();
    const all = links();
    const target = all[Math.max(0, Math.min(all.length - 1, i))];
    if (!target) return;
    grid.querySelector('a[tabindex="0"]')?.setAttribute('tabindex', '-1');
    target.setAttribute('tabindex', '0');
    target.focus();
  };
  grid.addEventListener('keydown', (e) => {
    const current = Number(e.target.dataset?.index ?? -1);
    if (current < 0 || e.altKey || e.ctrlKey || e.metaKey) return;
    renderAll();
    const perRow = columns(grid);
    const perPage = perRow * Math.max(1, Math.floor(innerHeight / (grid.firstElementChild?.offsetHeight || 200)));
    const moves = {
      ArrowRight: current + 1, ArrowLeft: current - 1, ArrowDown: current + perRow, ArrowUp: current - perRow,
      PageDown: current + perPage, PageUp: current - perPage, Home: 0, End: Infinity,
    };
    if (!(e.key in moves)) return;
    e.preventDefault();
    focusAt(moves[e.key] === Infinity ? links().length - 1 : moves[e.key]);
  });
  grid.addEventListener('focusin', (e) => {
    if (e.target.tagName !== 'A' || e.target.getAttribute('tabindex') === '0') return;
    grid.querySelector('a[tabindex="0"]')?.setAttribute('tabindex', '-1');
    e.target.setAttribute('tabindex', '0');
  });
  return focusAt;
}

export function summary(items) {
  const videos = items.filter((i) => i.kind === 'video').length;
  const parts = [];
  if (items.length - videos || !videos) parts.push(plural(items.length - videos, 'photo', 'photos'));
  if (videos) parts.push(plural(videos, 'video', 'videos'));
  return parts.join(', ');
}

// `focusIndex`: the item to come back to (from its own view).
export async function renderAlbum(main, album, store, focusIndex) {
  main.append(h('h1', { tabindex: -1, text: titleOf(album) }));
  if (album.description.trim()) main.append(h('p', { class: 'album-description', text: album.description }));
  const status = h('p', { class: 'count', text: 'Loading\u2026' });
  main.append(status);
  const { items, problems } = await store.albumItems(album);
  if (!main.isConnected) return null;
  status.textContent = summary(items);
  for (const p of problems) main.append(h('p', { class: 'problem', role: 'alert', text: p }));
  if (items.length === 0) {
    main.append(h('p', { class: 'empty', text: 'This album has no photos or videos.' }));
    return null;
  }
  const grid = h('ul', { class: 'grid', 'aria-label': `${titleOf(album)}: ${summary(items)}` });
  // The first screens at once, the rest in pieces between frames, so that
  // the album shows before thousands of tiles are made.
  let made = 0;
  const makeUpTo = (end) => {
    const part = document.createDocumentFragment();
    for (; made < Math.min(end, items.length); made++) part.append(tile(album, items[made], made, store));
    grid.append(part);
  };
  const renderAll = () => makeUpTo(items.length);
  makeUpTo(Number.isInteger(focusIndex) ? Math.max(120, focusIndex + 60) : 120);
  main.append(grid);
  const more = () => {
    if (!grid.isConnected || made >= items.length) return;
    makeUpTo(made + 500);
    setTimeout(more, 0);
  };
  setTimeout(more, 0);
  const focusAt = rovingFocus(grid, renderAll);
  const start = Number.isInteger(focusIndex) ? Math.min(focusIndex, items.length - 1) : 0;
  grid.querySelectorAll('a')[start].setAttribute('tabindex', '0');
  return { grid, focusAt };
}
