// Bundles the viewer page: dist/viewer.js (three.js and the page code, one classic script that
// runs from a file:// URL without network) and dist/page.html (the page template). The command
// line fills the template's markers with the scene JSON and the bundle to make one HTML file.
import { build } from 'esbuild';
import { copyFile, mkdir, readFile } from 'node:fs/promises';

const here = new URL('.', import.meta.url);
const dist = new URL('dist/', here);
await mkdir(dist, { recursive: true });
await build({
  entryPoints: [new URL('src/main.js', here).pathname],
  bundle: true,
  format: 'iife',
  minify: true,
  target: ['es2020'],
  loader: { '.css': 'text' },
  legalComments: 'eof',
  outfile: new URL('viewer.js', dist).pathname,
  logLevel: 'warning',
});
await copyFile(new URL('src/page.html', here), new URL('page.html', dist));
// The bundle is inlined into a <script> element: it must not close that element early.
const bundle = await readFile(new URL('viewer.js', dist), 'utf8');
if (/<\/script/i.test(bundle) || bundle.includes('<!--')) {
  throw new Error('the bundle contains text that would end an inline <script> element');
}
console.log(`viewer built: dist/viewer.js (${(bundle.length / 1024).toFixed(0)} KiB), dist/page.html`);
