// Bundles the viewer page: dist/viewer.js (three.js and the page code, one classic script that
// runs from a file:// URL without network; the loading worker is inlined as text and started from
// a Blob URL) and dist/page.html (the page template). The command line fills the template's
// markers with the bundle and the scene JSON to make one HTML file.
import { build } from 'esbuild';
import { copyFile, mkdir, readFile } from 'node:fs/promises';

const here = new URL('.', import.meta.url);
const dist = new URL('dist/', here);
const source = (name) => new URL(`src/${name}`, here).pathname;
const common = { bundle: true, format: 'iife', minify: true, target: ['es2020'], legalComments: 'eof', logLevel: 'warning' };

const worker = await build({ ...common, entryPoints: [source('worker.js')], write: false });
const workerSource = worker.outputFiles[0].text;

// `import WORKER_SOURCE from 'tarnwick:worker'` gives the worker bundle's text.
const inlineWorker = {
  name: 'inline-worker',
  setup(builder) {
    builder.onResolve({ filter: /^tarnwick:worker$/ }, () => ({ path: 'worker', namespace: 'tarnwick' }));
    builder.onLoad({ filter: /.*/, namespace: 'tarnwick' }, () => ({
      contents: `export default ${JSON.stringify(workerSource)};`,
      loader: 'js',
    }));
  },
};

await mkdir(dist, { recursive: true });
await build({
  ...common,
  entryPoints: [source('main.js')],
  loader: { '.css': 'text' },
  plugins: [inlineWorker],
  outfile: new URL('viewer.js', dist).pathname,
});
await copyFile(new URL('src/page.html', here), new URL('page.html', dist));
// The bundle is inlined into a <script> element: it must not close that element early.
const bundle = await readFile(new URL('viewer.js', dist), 'utf8');
if (/<\/script/i.test(bundle) || bundle.includes('<!--')) {
  throw new Error('the bundle contains text that would end an inline <script> element');
}
console.log(`viewer built: dist/viewer.js (${(bundle.length / 1024).toFixed(0)} KiB), dist/page.html`);
