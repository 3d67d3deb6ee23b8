// Bundles the viewer into one folder: node build.mjs <out folder>.
// mpegts.js goes into a chunk of its own, fetched only when a video is shown.
import * as esbuild from 'esbuild';
import { copyFileSync, mkdirSync, rmSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2];
if (!out) {
  console.error('usage: node build.mjs <out folder>');
  process.exit(2);
}
rmSync(out, { recursive: true, force: true });
mkdirSync(out, { recursive: true });
await esbuild.build({
  entryPoints: { viewer: join(here, 'src/main.js') },
  bundle: true,
  splitting: true,
  format: 'esm',
  minify: true,
  target: ['es2020'],
  chunkNames: '[name]-[hash]',
  legalComments: 'linked',
  outdir: out,
  logLevel: 'warning',
});
for (const f of ['index.html', 'viewer.css']) copyFileSync(join(here, 'src', f), join(out, f));
