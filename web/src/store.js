// The gallery the viewer shows: fetched from ../xml/ and ../img/ beside the
// viewer's own folder, read as the program reads it.

import { GalleryError, isBareFileName, parseAlbum, parseIndex } from './gallery.js';

const base = new URL('../', document.baseURI);

async function fetchText(url, what) {
  let response;
  try {
    // Revalidated every time: a gallery saved (or previewed) anew shows at once.
    response = await fetch(url, { cache: 'no-cache' });
  } catch (e) {
    throw new GalleryError(`${what} could not be fetched (${e.message})`);
  }
  if (!response.ok) throw new GalleryError(`${what} could not be fetched (${response.status} ${response.statusText})`.trim());
  return response.text();
}

export class Store {
  constructor() {
    this.nodes = [];
    this.albums = [];
    this.fileCounts = new Map();
    this.items = new Map(); // album -> Promise<{ items, problems }>
    this.indexProblem = null;
    this.early = new Map(); // album file name -> its text, asked for before the index came
  }

  // An address that names an album file: it is fetched beside the index.
  prefetch(name) {
    const url = this.xmlUrl(name);
    if (url) {
      const text = fetchText(url, `The album file \u201c${name}\u201d`);
      text.catch(() => {});
      this.early.set(name, text);
    }
  }

  // The gallery's name: its folder's, where the address shows it.
  get name() {
    const segments = base.pathname.split('/').filter(Boolean);
    const last = segments.length ? decodeURIComponent(segments[segments.length - 1]) : '';
    return last || 'Gallery';
  }

  imageUrl(name) {
    return isBareFileName(name) ? new URL(`img/${encodeURIComponent(name)}`, base).href : null;
  }

  xmlUrl(name) {
    return isBareFileName(name) ? new URL(`xml/${encodeURIComponent(name)}`, base).href : null;
  }

  async load() {
    try {
      const index = parseIndex(await fetchText(this.xmlUrl('albums.xml'), 'The gallery\u2019s index (xml/albums.xml)'));
      this.nodes = index.nodes;
    } catch (e) {
      if (!(e instanceof GalleryError)) throw e;
      this.indexProblem = e.message;
      this.nodes = [];
    }
    this.albums = [];
    this.fileCounts.clear();
    const visit = (nodes) => {
      for (const n of nodes) {
        if (n.kind === 'collection') {
          visit(n.children);
        } else {
          this.albums.push(n);
          this.fileCounts.set(n.xmlFile, (this.fileCounts.get(n.xmlFile) ?? 0) + 1);
        }
      }
    };
    visit(this.nodes);
  }

  isUniqueFileName(name) {
    return name !== '' && this.fileCounts.get(name) === 1 && !name.startsWith('@');
  }

  nodeAt(path) {
    let list = this.nodes;
    let node = null;
    for (const i of path) {
      node = list?.[i];
      if (!node) return null;
      list = node.children;
    }
    return node;
  }

  albumById(id) {
    if (id.startsWith('@')) {
      const path = /^@\d+(\.\d+)*$/.test(id) ? id.slice(1).split('.').map(Number) : null;
      const node = path && this.nodeAt(path);
      return node?.kind === 'album' ? node : null;
    }
    return this.albums.find((a) => a.xmlFile === id) ?? null;
  }

  // Every album file the index names for the album, items in order; a file
  // that cannot be read adds nothing and is reported.
  albumItems(album) {
    if (!this.items.has(album)) {
      this.items.set(album, (async () => {
        const results = await Promise.all(album.files.map(async (name) => {
          const url = this.xmlUrl(name);
          if (!url) return { items: [], problem: `The album file name \u201c${name}\u201d is not a file of the xml folder` };
          try {
            const early = this.early.get(name);
            this.early.delete(name);
            return { items: parseAlbum(await (early ?? fetchText(url, `The album file \u201c${name}\u201d`)), name) };
          } catch (e) {
            if (!(e instanceof GalleryError)) throw e;
            return { items: [], problem: e.message };
          }
        }));
        const items = results.flatMap((r) => r.items);
        album.count = items.length;
        return { items, problems: results.map((r) => r.problem).filter(Boolean) };
      })());
    }
    return this.items.get(album);
  }
}
