// The gallery folder as the desktop program reads it: the index "albums.xml"
// and one album file per album, both versions, read the same way (the
// program's reader is the reference; keep the two in step).

const MAX_DEPTH = 256; // deeper nesting makes the program refuse the index

const PARSER_ERROR_NAMESPACES = new Set([
  'http://www.w3.org/1999/xhtml',
  'http://www.mozilla.org/newlayout/xml/parsererror.xml',
]);

export class GalleryError extends Error {}

function parse(text, what) {
  const doc = new DOMParser().parseFromString(text, 'application/xml');
  for (const e of doc.getElementsByTagName('parsererror')) {
    if (PARSER_ERROR_NAMESPACES.has(e.namespaceURI)) throw new GalleryError(`${what} is not a well-formed XML file`);
  }
  return doc.documentElement;
}

function* elements(parent) {
  for (let e = parent.firstElementChild; e; e = e.nextElementSibling) yield e;
}

// An element that is there holds "", never null.
const text = (e) => e.textContent ?? '';

// The text of each child "url", in order.
function* urls(e) {
  for (const u of elements(e)) if (u.localName === 'url') yield text(u);
}

function lastNonEmptyUrl(e, current) {
  for (const u of urls(e)) if (u !== '') current = u;
  return current;
}

function lastUrl(e, current) {
  for (const u of urls(e)) current = u;
  return current;
}

// The decimal number at the start of the text after white space; 0 without
// one; held to what a 32-bit integer holds.
export function leadingInt(s) {
  const m = /^\s*([+-]?)(\d+)/.exec(s ?? '');
  if (!m) return 0;
  const v = Math.min(Number(m[2]), m[1] === '-' ? 2147483648 : 2147483647);
  return m[1] === '-' ? -v : v;
}

// A stored name may only name a file directly inside its folder.
export function isBareFileName(name) {
  return typeof name === 'string' && name !== '' && name !== '.' && name !== '..' && !/[/\\\0]/.test(name);
}

function readAlbum(e) {
  const album = { kind: 'album', title: '', description: '', thumb: null, count: null, xmlFile: '', files: [], children: [] };
  for (const c of elements(e)) {
    switch (c.localName) {
      case 'title': album.title = text(c); break;
      case 'description': album.description = text(c); break;
      case 'thumb': album.thumb = lastNonEmptyUrl(c, album.thumb); break;
      case 'contentxmlurl': album.xmlFile = text(c); album.files.push(album.xmlFile); break;
      // The program counts the album file's items; the index's count is shown until that is read.
      case 'contentnumber': if (/^\s*\d+\s*$/.test(text(c))) album.count = Number(text(c)); break;
    }
  }
  return album;
}

function readChildren(list, parent, depth, withHeader, out) {
  if (depth > MAX_DEPTH) throw new GalleryError(`collections are nested more than ${MAX_DEPTH} levels deep`);
  for (const c of elements(list)) {
    if (c.localName === 'album') {
      out.push(readAlbum(c));
    } else if (c.localName === 'collection') {
      const coll = { kind: 'collection', title: '', thumb: null, children: [] };
      readChildren(c, coll, depth + 1, true, coll.children);
      out.push(coll);
    } else if (withHeader && c.localName === 'title') {
      parent.title = text(c);
    } else if (withHeader && c.localName === 'thumb') {
      parent.thumb = lastNonEmptyUrl(c, parent.thumb);
    }
  }
}

// Gives every node its parent, its place and its address.
function link(nodes, parent, path) {
  nodes.forEach((node, i) => {
    node.parent = parent;
    node.path = [...path, i];
    if (node.kind === 'collection') link(node.children, node, node.path);
  });
}

// The tree of the index file: { nodes, version }. A version other than
// "2.0" and "2.1" (a new gallery's "2.2" too) holds no tree.
export function parseIndex(textOfFile) {
  const root = parse(textOfFile, 'The gallery\u2019s index');
  const version = root.getAttribute('version');
  const nodes = [];
  if (version === '2.0' || version === '2.1') {
    const top = root.firstElementChild; // the top-level list, whatever its name
    if (top) readChildren(top, null, 0, false, nodes);
  }
  link(nodes, null, []);
  return { nodes, version };
}

function readItemText(c, item) {
  switch (c.localName) {
    case 'title': case 'date': case 'location': case 'description':
      item[c.localName] = text(c);
      return true;
  }
  return false;
}

function readPicture(e) {
  const p = { kind: 'photo', title: '', date: '', location: '', description: '', image: null, small: null, large: null };
  for (const c of elements(e)) {
    if (readItemText(c, p)) continue;
    switch (c.localName) {
      case 'image': p.image = lastUrl(c, p.image); break;
      case 'smallimage': p.small = lastUrl(c, p.small); break;
      case 'largeimage': p.large = lastNonEmptyUrl(c, p.large); break;
    }
  }
  return p;
}

function readVideo(e) {
  const v = { kind: 'video', title: '', date: '', location: '', description: '', thumb: null, streams: [] };
  for (const c of elements(e)) {
    if (readItemText(c, v)) continue;
    if (c.localName === 'thumb') {
      v.thumb = lastNonEmptyUrl(c, v.thumb);
    } else if (c.localName === 'video') {
      for (const s of elements(c)) {
        if (s.localName !== 'stream') continue;
        v.streams.push({ bitrate: leadingInt(s.getAttribute('bitrate')), file: lastUrl(s, '') });
      }
    }
  }
  return v;
}

// The items of one album file. Version "2.0" holds pictures only; any
// other version than "2.0" and "2.1" holds nothing.
export function parseAlbum(textOfFile, name) {
  const root = parse(textOfFile, `The album file \u201c${name}\u201d`);
  const version = root.getAttribute('version');
  if (version !== '2.0' && version !== '2.1') {
    throw new GalleryError(`The album file \u201c${name}\u201d has an unknown version (${version ?? 'none'})`);
  }
  const items = [];
  for (const c of elements(root)) {
    if (c.localName === 'picture') items.push(readPicture(c));
    else if (c.localName === 'video' && version === '2.1') items.push(readVideo(c));
  }
  return items;
}
