// Element building without markup strings: every text goes in as text.

export function h(tag, attrs = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs)) {
    if (v === null || v === undefined || v === false) continue;
    if (k === 'class') e.className = v;
    else if (k === 'text') e.textContent = v;
    else if (k.startsWith('on')) e.addEventListener(k.slice(2), v);
    else e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children.flat()) {
    if (c !== null && c !== undefined && c !== false) e.append(c);
  }
  return e;
}

export function plural(n, one, many) {
  return `${n.toLocaleString()} ${n === 1 ? one : many}`;
}

// A date in the form "2008-03-07" is marked up as one; any other text
// (dates are free text) is shown as written.
export function dateElement(date) {
  if (!date) return null;
  const iso = /^\d{4}-\d{2}-\d{2}$/.test(date);
  return h(iso ? 'time' : 'span', { class: 'date', datetime: iso ? date : null, text: date });
}

export const reducedMotion = () => matchMedia('(prefers-reduced-motion: reduce)').matches;
