// Headless Chromium for the tests and the benchmark, driven by puppeteer-core.
import puppeteer from 'puppeteer-core';

export async function launch() {
  const args = ['--autoplay-policy=no-user-gesture-required', '--mute-audio', '--disable-gpu',
    '--disable-background-networking', '--no-first-run', '--no-default-browser-check'];
  // Chromium's sandbox does not run as root.
  if (process.getuid?.() === 0) args.push('--no-sandbox');
  return puppeteer.launch({
    executablePath: process.env.QM_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args,
    protocolTimeout: 120000,
  });
}

// Every request of a page, to check what a view asked for.
export function recordRequests(page) {
  const urls = [];
  page.on('request', (r) => urls.push(r.url()));
  return urls;
}

export const ready = (page) => page.waitForSelector('body[data-ready="yes"]', { timeout: 60000 });
