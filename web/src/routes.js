// Every view has its own address in the fragment:
//   #/                   the top of the gallery
//   #/c/1.4              a collection, by its place in the tree
//   #/a/<album file>     an album, by the name of its album file
//   #/a/@1.4.2           an album without a name of its own, by its place
//   #/a/<album>/7        the 7th item of an album

export function parseRoute(hash) {
  const parts = hash.replace(/^#\/?/, '').split('/').filter((p) => p !== '');
  const decode = (s) => { try { return decodeURIComponent(s); } catch { return null; } };
  const path = (s) => (/^\d+(\.\d+)*$/.test(s) ? s.split('.').map(Number) : null);
  if (parts.length === 0) return { view: 'top' };
  if (parts[0] === 'c' && parts.length === 2 && path(parts[1])) return { view: 'collection', path: path(parts[1]) };
  if (parts[0] === 'a' && (parts.length === 2 || parts.length === 3)) {
    const id = decode(parts[1]);
    const item = parts.length === 3 ? Number(parts[2]) : null;
    if (id !== null && (item === null || (Number.isInteger(item) && item >= 1))) {
      return { view: item === null ? 'album' : 'item', album: id, item };
    }
  }
  return { view: 'unknown' };
}

const pathText = (path) => path.join('.');

export function albumId(album, gallery) {
  return gallery.isUniqueFileName(album.xmlFile) ? album.xmlFile : `@${pathText(album.path)}`;
}

export function nodeHref(node, gallery) {
  if (!node) return '#/';
  if (node.kind === 'collection') return `#/c/${pathText(node.path)}`;
  return `#/a/${encodeURIComponent(albumId(node, gallery))}`;
}

export function itemHref(album, index, gallery) {
  return `${nodeHref(album, gallery)}/${index + 1}`;
}
