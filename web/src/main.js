// The viewer: reads the gallery beside it and shows the view its address names.

import { h } from './dom.js';
import { forgetPending } from './lazy.js';
import { nodeHref, parseRoute } from './routes.js';
import { Store } from './store.js';
import { renderAlbum } from './views/album.js';
import { renderItem } from './views/item.js';
import { renderNodes, titleOf } from './views/tree.js';

const store = new Store();
const main = document.getElementById('main');
const crumbs = document.getElementById('path');
const announcer = document.getElementById('announcer');
const scrollTops = new Map(); // address -> scroll position, for the way back
let endView = () => {};
let pending = null; // how the next view was asked for
let previousHash = null;
let firstView = true;

// `replace`: the same place in history (next photo); `back`: to the view we
// came from, when that is where history goes back to.
function navigate(href, options = {}) {
  pending = { ...options, from: history.state?.from ?? null };
  if (options.back && history.state?.from === href) history.back();
  else if (options.replace) location.replace(href);
  else location.hash = href;
}

function ancestors(node) {
  const list = [];
  for (let n = node; n; n = n.parent) list.unshift(n);
  return list;
}

function showPath(node, last) {
  const items = [h('li', {}, h('a', { href: '#/', text: store.name }))];
  for (const n of ancestors(node)) items.push(h('li', {}, h('a', { href: nodeHref(n, store), text: titleOf(n) })));
  if (last) items.push(h('li', {}, h('span', { text: last })));
  const current = items[items.length - 1].firstChild;
  current.setAttribute('aria-current', 'page');
  crumbs.replaceChildren(...items);
}

async function render() {
  const hash = location.hash || '#/';
  const options = pending ?? {};
  pending = null;
  if (previousHash !== null) scrollTops.set(previousHash, scrollY);
  // Remember where each entry came from, so that "back to the album" is a step back.
  if (!history.state || history.state.hash !== hash) {
    history.replaceState({ hash, from: options.replace ? options.from : previousHash }, '');
  }
  previousHash = hash;

  endView();
  endView = () => {};
  forgetPending();
  const view = h('div', { class: 'view' });
  main.replaceChildren(view);
  const route = parseRoute(hash);
  let title = store.name;
  let focusItem = options.focusItem;

  if (route.view === 'top') {
    showPath(null);
    renderNodes(view, store.name, store.nodes, store);
  } else if (route.view === 'collection' && store.nodeAt(route.path)?.kind === 'collection') {
    const node = store.nodeAt(route.path);
    showPath(node);
    renderNodes(view, titleOf(node), node.children, store);
    title = `${titleOf(node)} \u2013 ${store.name}`;
  } else if ((route.view === 'album' || route.view === 'item') && store.albumById(route.album)) {
    const album = store.albumById(route.album);
    title = `${titleOf(album)} \u2013 ${store.name}`;
    if (route.view === 'album') {
      showPath(album);
      const grid = await renderAlbum(view, album, store, focusItem);
      if (grid && Number.isInteger(focusItem) && view.isConnected) grid.focusAt(focusItem);
      focusItem = grid && Number.isInteger(focusItem) ? focusItem : undefined;
    } else {
      const { items } = await store.albumItems(album);
      const item = items[route.item - 1];
      showPath(album, item ? (item.title.trim() || `Item ${route.item}`) : `Item ${route.item}`);
      const end = await renderItem(view, album, route.item - 1, store, navigate);
      if (view.isConnected) endView = end; else end();
      if (item) title = `${item.title.trim() || `Item ${route.item}`} \u2013 ${title}`;
    }
  } else {
    showPath(null, 'Not found');
    view.append(h('h1', { tabindex: -1, text: 'Not found' }),
      h('p', {}, 'Nothing in this gallery has this address. ', h('a', { href: '#/', text: 'Go to the start of the gallery' })));
  }
  if (!view.isConnected) return;
  document.title = title;
  announcer.textContent = title;
  if (Number.isInteger(focusItem)) return; // the item came back to has the focus, in view
  window.scrollTo({ top: options.back ? (scrollTops.get(hash) ?? 0) : 0, behavior: 'instant' });
  // The first view leaves the focus at the start of the page; later ones
  // take it to their heading, where a screen reader goes on reading.
  const keep = options.focus && view.querySelector(options.focus);
  if (keep && !keep.disabled) keep.focus({ preventScroll: true });
  else if (!firstView) view.querySelector('h1')?.focus({ preventScroll: true });
  firstView = false;
}

async function start() {
  history.scrollRestoration = 'manual';
  const route = parseRoute(location.hash);
  if (route.album && !route.album.startsWith('@')) store.prefetch(route.album);
  await store.load();
  window.addEventListener('hashchange', () => render().catch(failed));
  window.addEventListener('popstate', () => { pending ??= { back: true }; });
  await render();
}

function failed(e) {
  main.replaceChildren(h('p', { class: 'problem', role: 'alert', text: `The gallery could not be shown: ${e.message}` }));
  document.body.dataset.ready = 'error';
}

start().then(() => { document.body.dataset.ready = 'yes'; }, failed);
