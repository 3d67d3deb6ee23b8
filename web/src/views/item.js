// One photo or video of an album: the normal picture, or the large one where
// the screen is big enough or the visitor zooms; previous and next by the
// arrow keys, swipes and buttons; Escape back to the album.

import { dateElement, h, reducedMotion } from '../dom.js';
import { itemHref, nodeHref } from '../routes.js';
import { showVideo } from '../video.js';
import { itemLabel } from './album.js';
import { titleOf } from './tree.js';

function caption(item) {
  const meta = [dateElement(item.date), item.location && h('span', { class: 'location', text: item.location })].filter(Boolean);
  return h('figcaption', {},
    item.title.trim() && h('h2', { class: 'caption', text: item.title }),
    meta.length > 0 && h('p', { class: 'meta' }, meta.flatMap((m, i) => (i ? [' \u00b7 ', m] : [m]))),
    item.description.trim() && h('p', { class: 'description', text: item.description }));
}

// Swaps to the large picture once the normal one is smaller than the room
// the screen gives it.
function upgradeWhenRoom(img, figure, largeUrl) {
  if (!largeUrl) return;
  const check = () => {
    const roomWidth = figure.clientWidth * devicePixelRatio;
    const roomHeight = (innerHeight - 12 * parseFloat(getComputedStyle(document.documentElement).fontSize)) * devicePixelRatio;
    const scale = Math.min(roomWidth / img.naturalWidth, roomHeight / img.naturalHeight);
    if (img.naturalWidth && scale > 1.1 && img.dataset.size !== 'large') {
      const large = new Image();
      large.onload = () => { if (img.isConnected) { img.src = largeUrl; img.dataset.size = 'large'; } };
      large.src = largeUrl;
    }
  };
  // Once shown: the figure has its place on the page by then.
  img.decode().then(check, () => {});
}

function photo(item, index, store, figure) {
  const normal = store.imageUrl(item.image) ?? store.imageUrl(item.small);
  const large = store.imageUrl(item.large);
  const img = h('img', { class: 'photo', alt: item.title.trim() || item.description.trim() || itemLabel(item, index), 'data-size': 'normal' });
  img.addEventListener('error', () => img.classList.add('broken'), { once: true });
  if (normal) img.src = normal; else img.classList.add('broken');
  figure.append(img);
  upgradeWhenRoom(img, figure, large);
  const zoom = h('button', { type: 'button', class: 'zoom', 'aria-pressed': 'false', text: 'Full size', hidden: !large && !normal });
  zoom.addEventListener('click', () => {
    const on = figure.classList.toggle('zoomed');
    zoom.setAttribute('aria-pressed', String(on));
    if (on && large && img.dataset.size !== 'large') { img.src = large; img.dataset.size = 'large'; }
  });
  return zoom;
}

// Previous and next by a horizontal swipe; a zoomed picture pans instead.
function swipes(element, onSwipe) {
  let start = null;
  element.addEventListener('pointerdown', (e) => { if (e.isPrimary && e.pointerType !== 'mouse') start = { x: e.clientX, y: e.clientY }; });
  element.addEventListener('pointercancel', () => { start = null; });
  element.addEventListener('pointerup', (e) => {
    if (!start || element.classList.contains('zoomed')) return;
    const dx = e.clientX - start.x, dy = e.clientY - start.y;
    start = null;
    if (Math.abs(dx) > 50 && Math.abs(dx) > 1.5 * Math.abs(dy)) onSwipe(dx < 0 ? 1 : -1);
  });
}

// Returns a function that ends the view (a playing video stops).
export async function renderItem(main, album, index, store, navigate) {
  const { items } = await store.albumItems(album);
  if (!main.isConnected) return () => {};
  const item = items[index];
  if (!item) {
    main.append(h('h1', { tabindex: -1, text: 'Not found' }),
      h('p', {}, `The album \u201c${titleOf(album)}\u201d has no item ${index + 1}. `, h('a', { href: nodeHref(album, store), text: 'Back to the album' })));
    return () => {};
  }
  const go = (step) => {
    const next = index + step;
    const active = document.activeElement;
    const focus = active?.matches?.('.prev, .next, .zoom') ? `.${active.className}` : null;
    if (next >= 0 && next < items.length) navigate(itemHref(album, next, store), { replace: true, focus });
  };
  const back = () => navigate(nodeHref(album, store), { back: true, focusItem: index });

  const figure = h('figure', { class: `item ${item.kind}` });
  let zoom = null;
  let stop = () => {};
  if (item.kind === 'photo') {
    zoom = photo(item, index, store, figure);
  } else {
    const poster = store.imageUrl(item.thumb);
    figure.append(h('img', { class: 'poster', alt: `${itemLabel(item, index)} (thumbnail)`, src: poster }));
    stop = showVideo(figure, item, store, poster);
  }
  swipes(figure, go);

  const prev = h('button', { type: 'button', class: 'prev', 'aria-label': 'Previous', disabled: index === 0, onclick: () => go(-1) }, '\u2039');
  const next = h('button', { type: 'button', class: 'next', 'aria-label': 'Next', disabled: index === items.length - 1, onclick: () => go(1) }, '\u203a');
  const close = h('button', { type: 'button', class: 'close', onclick: back }, 'Back to album');
  main.append(
    h('h1', { class: 'sr-only', tabindex: -1, text: `${itemLabel(item, index)} \u2013 ${titleOf(album)}` }),
    h('div', { class: 'item-bar' },
      h('span', { class: 'position', text: `${(index + 1).toLocaleString()} of ${items.length.toLocaleString()}` }),
      zoom, close),
    h('div', { class: 'stage' }, prev, figure, next),
    caption(item));

  const onKey = (e) => {
    if (e.defaultPrevented || e.altKey || e.ctrlKey || e.metaKey) return;
    const t = e.target;
    if (t instanceof HTMLElement && (t.matches('input, select, textarea, video') || t.isContentEditable)) return;
    if (e.key === 'ArrowRight') go(1);
    else if (e.key === 'ArrowLeft') go(-1);
    else if (e.key === 'Escape') back();
    else if ((e.key === 'z' || e.key === '+') && zoom && !zoom.hidden) zoom.click();
    else return;
    e.preventDefault();
  };
  document.addEventListener('keydown', onKey);

  // The neighbours' pictures are fetched before they are asked for.
  for (const n of [items[index + 1], items[index - 1]]) {
    const url = n && (n.kind === 'photo' ? store.imageUrl(n.image) : store.imageUrl(n.thumb));
    if (url) new Image().src = url;
  }
  if (!reducedMotion()) figure.classList.add('appear');
  return () => {
    document.removeEventListener('keydown', onKey);
    stop();
  };
}
