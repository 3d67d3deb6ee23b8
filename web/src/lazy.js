// Pictures are asked for only as they come near the window: an album of
// thousands of items fetches the few it shows.

let observer = null;

function load(img) {
  const src = img.dataset.src;
  if (!src) return;
  delete img.dataset.src;
  img.addEventListener('error', () => img.classList.add('broken'), { once: true });
  img.src = src;
}

function observerFor() {
  observer ??= new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) continue;
      observer.unobserve(entry.target);
      load(entry.target);
    }
  }, { rootMargin: '160px 0px' });
  return observer;
}

export function lazyImage(img, src) {
  if (!src) {
    img.classList.add('broken');
    return img;
  }
  img.dataset.src = src;
  observerFor().observe(img);
  return img;
}

// A new view: pictures of the old one still waiting are forgotten.
export function forgetPending() {
  observer?.disconnect();
}
