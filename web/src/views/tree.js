// The top of the gallery and its collections: a card for each collection
// and album, with its thumbnail, title, count and description.

import { h, plural } from '../dom.js';
import { lazyImage } from '../lazy.js';
import { nodeHref } from '../routes.js';

export function countText(node) {
  if (node.kind === 'album') return node.count === null ? '' : plural(node.count, 'item', 'items');
  const albums = node.children.filter((c) => c.kind === 'album').length;
  const collections = node.children.length - albums;
  const parts = [];
  if (collections) parts.push(plural(collections, 'collection', 'collections'));
  if (albums || !collections) parts.push(plural(albums, 'album', 'albums'));
  return parts.join(', ');
}

export function titleOf(node) {
  return node.title.trim() ? node.title : node.kind === 'album' ? 'Untitled album' : 'Untitled collection';
}

function card(node, store) {
  const img = lazyImage(h('img', { alt: '', width: 120, height: 80, decoding: 'async' }), store.imageUrl(node.thumb));
  const description = node.kind === 'album' && node.description.trim() ? node.description : null;
  return h('li', { class: `card ${node.kind}` },
    h('a', { href: nodeHref(node, store) },
      h('span', { class: 'thumb' }, img),
      h('span', { class: 'card-text' },
        h('span', { class: 'card-title', text: titleOf(node) }),
        h('span', { class: 'count', text: `${node.kind === 'collection' ? 'Collection' : 'Album'} \u00b7 ${countText(node)}` }),
        description && h('span', { class: 'description', text: description }))));
}

export function renderNodes(main, heading, nodes, store) {
  main.append(h('h1', { tabindex: -1, text: heading }));
  if (store.indexProblem) main.append(h('p', { class: 'problem', role: 'alert', text: store.indexProblem }));
  if (nodes.length === 0) {
    main.append(h('p', { class: 'empty', text: store.indexProblem ? '' : 'There is nothing here yet.' }));
    return;
  }
  main.append(h('ul', { class: 'cards' }, nodes.map((n) => card(n, store))));
}
