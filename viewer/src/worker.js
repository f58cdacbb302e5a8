// The page's loading worker: parses the message, prepares the drawable layout (prepare.js) and
// triangulates the caps geometry by geometry, the ones the view needs first, so that the page
// stays responsive and shows progress however large the scene is.
//
// Messages in:  {type: 'load', content}           content: JSON text or the parsed message
//               {type: 'priority', geometries}    geometries to triangulate next
// Messages out: {type: 'progress', stage, done, total}
//               {type: 'scene', scene}            the prepared scene (arrays transferred)
//               {type: 'caps', items: [[polygon, full, rough], ...], geometries: [g, ...]}
//               {type: 'done'}
//               {type: 'error', message}
import { prepareScene } from './prepare.js';
import { triangulatePolygons } from './triangulate.js';

const SLICE_MS = 25;
let geometry = null;
let pending = null; // Uint8Array: 1 while a geometry still needs its caps
let queue = []; // priority geometries
let nextInOrder = 0;
let remaining = 0;
let running = false;

function post(message, transfer = []) {
  self.postMessage(message, transfer);
}

// Seconds spent in each stage of the current load, for the page's inspect() and the benchmarks.
let timings = {};
let stageName = null;
let stageStart = 0;

function progress(stage, done, total) {
  const now = performance.now();
  if (stage !== stageName) {
    if (stageName) timings[stageName] = (timings[stageName] || 0) + (now - stageStart) / 1000;
    stageName = stage;
    stageStart = now;
  }
  post({ type: 'progress', stage, done, total });
}

function nextGeometry() {
  while (queue.length) {
    const g = queue.shift();
    if (pending[g]) return g;
  }
  while (nextInOrder < pending.length && !pending[nextInOrder]) nextInOrder += 1;
  return nextInOrder < pending.length ? nextInOrder : -1;
}

async function triangulateAll() {
  try {
    await triangulateSlices();
  } catch (error) {
    running = false;
    post({ type: 'error', message: error && error.message ? error.message : String(error) });
  }
}

async function triangulateSlices() {
  running = true;
  const total = pending.length;
  while (remaining > 0) {
    const started = performance.now();
    const items = [];
    const done = [];
    const transfer = [];
    while (performance.now() - started < SLICE_MS) {
      const g = nextGeometry();
      if (g < 0) break;
      const p0 = geometry.geometryPolygons[g];
      const p1 = geometry.geometryPolygons[g + 1];
      const full = new Uint32Array(geometry.polygonCaps[p1] - geometry.polygonCaps[p0]);
      const rough = new Uint32Array(geometry.polygonRough[p1] - geometry.polygonRough[p0]);
      triangulatePolygons(geometry, p0, p1, full, rough);
      pending[g] = 0;
      remaining -= 1;
      items.push([p0, full, rough]);
      transfer.push(full.buffer, rough.buffer);
      done.push(g);
    }
    post({ type: 'caps', items, geometries: done }, transfer);
    progress('triangulating', total - remaining, total);
    // Let priority requests in between slices.
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  running = false;
  progress('done', 1, 1);
  post({ type: 'done', timings: { ...timings } });
  geometry = null;
  self.close();
}

self.onmessage = async (event) => {
  const message = event.data;
  try {
    if (message.type === 'load') {
      timings = {};
      stageName = null;
      progress('reading the scene', 0, 1);
      const content = typeof message.content === 'string' ? JSON.parse(message.content) : message.content;
      const { scene, transfer } = prepareScene(content, progress);
      progress('sending the scene', 0, 1);
      scene.timings = { ...timings };
      // The worker keeps the arrays it triangulates from; the page gets copies of those.
      geometry = {
        geometryPolygons: scene.geometry.geometryPolygons.slice(),
        polygonEntries: scene.geometry.polygonEntries.slice(),
        polygonCaps: scene.geometry.polygonCaps.slice(),
        polygonRough: scene.geometry.polygonRough.slice(),
        polygonInfo: scene.geometry.polygonInfo.slice(),
        entries: scene.geometry.entries.slice(),
      };
      pending = new Uint8Array(scene.geometry.geometryCount).fill(1);
      remaining = pending.length;
      post({ type: 'scene', scene }, transfer);
      if (remaining > 0) {
        triangulateAll();
      } else {
        post({ type: 'done', timings: { ...timings } });
        self.close();
      }
    } else if (message.type === 'priority') {
      queue = message.geometries.concat(queue);
      if (!running && remaining > 0) triangulateAll();
    }
  } catch (error) {
    post({ type: 'error', message: error && error.message ? error.message : String(error) });
  }
};
