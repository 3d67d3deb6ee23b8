// Bundles the viewer into one folder: node build.mjs <out folder>.
// mpegts.js goes into a chunk of its own, fetched only when a video is shown.
import * as esbuild from 'esbuild';
import { copyFileSync, mkdirSync, readFileSync, rmSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2];
if (!out) {
  console.error('usage: node build.mjs <out folder>');
  process.exit(2);
}
// mpegts.js 1.8 polls for an unbuffered seek on a timer that its destroy()
// does not clear; the poll then reads the detached (null) media element and
// throws on the page whenever a visitor leaves a video while it seeks.
const SEEK_POLL = '_pollAndApplyUnbufferedSeek=function(){if(null!=this._seek_request_record_clocktime)';
const mendMpegts = {
  name: 'mend-mpegts',
  setup(build) {
    build.onLoad({ filter: /mpegts\.js[\\/]dist[\\/]mpegts\.js$/ }, (args) => {
      const code = readFileSync(args.path, 'utf8');
      if (code.split(SEEK_POLL).length !== 2) throw new Error('mpegts.js changed: look again at its seek poll');
      return { contents: code.replace(SEEK_POLL, SEEK_POLL.replace('if(', 'if(this._media_element&&')), loader: 'js' };
    });
  },
};
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
  plugins: [mendMpegts],
});
for (const f of ['index.html', 'viewer.css']) copyFileSync(join(here, 'src', f), join(out, f));
