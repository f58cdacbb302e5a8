// The page's loading worker: parses the message and prepares the drawable layout (prepare.js),
// then triangulates the caps of the geometries the view asks for, when it first asks for them:
// a view of a whole chip draws its small shapes as dots and needs no triangles at all. The page
// stays responsive and shows progress however large the scene is.
//
// Messages in:  {type: 'load', content}           content: JSON text or the parsed message
//               {type: 'priority', geometries}    geometries to triangulate now
// Messages out: {type: 'progress', stage, done, total}
//               {type: 'scene', scene}            the prepared scene (arrays transferred)
//               {type: 'caps', items: [[polygon, full, rough], ...], geometries: [g, ...]}
//               {type: 'idle', timings}           every geometry asked for so far is triangulated
//               {type: 'error', message}
import { readMessageText } from './message.js';
import { prepareScene } from './prepare.js';
import { triangulatePolygons } from './triangulate.js';

const SLICE_MS = 25;
let geometry = null;
let pending = null; // Uint8Array: 1 while a geometry still needs its caps
let queue = []; // priority geometries
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
    const g = queue.pop();
    if (pending[g]) return g;
  }
  return -1;
}

async function triangulateQueued() {
  try {
    await triangulateSlices();
  } catch (error) {
    running = false;
    post({ type: 'error', message: error && error.message ? error.message : String(error) });
  }
}

async function triangulateSlices() {
  running = true;
  let done = 0;
  while (queue.length) {
    const started = performance.now();
    const items = [];
    const finished = [];
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
      items.push([p0, full, rough]);
      transfer.push(full.buffer, rough.buffer);
      finished.push(g);
    }
    done += finished.length;
    if (finished.length) post({ type: 'caps', items, geometries: finished }, transfer);
    progress('triangulating', done, done + queue.length);
    // Let priority requests in between slices.
    await new Promise((resolve) => setTimeout(resolve, 0));
  }
  running = false;
  idle();
}

function idle() {
  if (stageName) timings[stageName] = (timings[stageName] || 0) + (performance.now() - stageStart) / 1000;
  stageName = null;
  post({ type: 'idle', timings: { ...timings } });
}

self.onmessage = async (event) => {
  const message = event.data;
  try {
    if (message.type === 'load') {
      timings = {};
      stageName = null;
      progress('reading the scene', 0, 1);
      const { message: content, pool } =
        typeof message.content === 'string' ? readMessageText(message.content, progress) : { message: message.content, pool: null };
      const { scene, transfer } = prepareScene(content, progress, pool);
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
      post({ type: 'scene', scene }, transfer);
      idle();
    } else if (message.type === 'priority') {
      // The newest request first: it is what the view shows now.
      for (let i = message.geometries.length - 1; i >= 0; i -= 1) queue.push(message.geometries[i]);
      if (!running && geometry) triangulateQueued();
    }
  } catch (error) {
    post({ type: 'error', message: error && error.message ? error.message : String(error) });
  }
};
