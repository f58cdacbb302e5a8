// The tarnwick 3D viewer page: the controls around the view, keyboard shortcuts, the panels that
// show what was picked and measured, a list of events, and the page's programming interface
// window.tarnwick:
//
//   show(content, {keepCamera})  replaces the scene with a depthview message (JSON text or object);
//                                keepCamera true, false or 'auto' (default); resolves when drawn
//   note(text)                   adds an entry to the page's event list
//   inspect()                    the viewer's state, for tests and the curious
//
// After each scene is drawn <body> carries data-tw-state="ready", data-tw-scene (the scene's
// name) and the counts of what was drawn; data-tw-state="error" after a failure, "empty" while no
// scene was given, "loading" in between. The document gets a "tarnwick-ready" event once
// window.tarnwick exists.
import { element, micrometres } from './dom.js';
import { Viewer } from './viewer.js';
import STYLE from './style.css';
import './live.js';
import './notice.js';

const EVENT_LIMIT = 50;
let viewer = null;
const byId = (id) => document.getElementById(id);

let errorCount = 0;
window.addEventListener('error', () => {
  errorCount += 1;
  document.body.dataset.twErrors = String(errorCount);
});

// --- the page's panels ------------------------------------------------------------------------

function setState(state, scene = null) {
  const data = document.body.dataset;
  data.twState = state;
  if (state === 'ready' && scene) {
    byId('tw-error').hidden = true;
    byId('tw-empty').hidden = true;
    data.twScene = scene.name;
    data.twPolygons = String(scene.counts.polygons);
    data.twDistinct = String(scene.counts.distinct);
    data.twPlacements = String(scene.counts.placements);
    data.twParts = String(scene.counts.parts);
    data.twMeshes = String(scene.counts.parts);
    data.twLayers = String(scene.layers.length);
    data.twInstances = String(scene.counts.instances);
  }
}

function showError(message) {
  console.error(message);
  setState('error');
  const box = byId('tw-error');
  box.textContent = message;
  box.hidden = false;
}

function progress(stage, done = 0, total = 1) {
  const box = byId('tw-progress');
  if (stage === null) {
    box.hidden = true;
    delete document.body.dataset.twProgress;
    return;
  }
  box.hidden = false;
  const share = total > 0 ? Math.min(1, done / total) : 0;
  box.querySelector('.tw-stage').textContent = `${stage}${total > 1 ? ` ${Math.round(100 * share)} %` : ' …'}`;
  const bar = box.querySelector('progress');
  if (total > 1) bar.value = share;
  else bar.removeAttribute('value');
  document.body.dataset.twProgress = stage;
}

function sceneShown(scene, title) {
  byId('tw-title').textContent = title || scene.name || 'scene';
  const { counts } = scene;
  byId('tw-counts').textContent =
    `${counts.polygons.toLocaleString()} polygons drawn · ${counts.distinct.toLocaleString()} distinct · ` +
    `${counts.placements.toLocaleString()} placements · ${counts.parts.toLocaleString()} parts`;
  controlsChanged();
}

function showSelection(info) {
  const panel = byId('tw-info');
  document.querySelectorAll('.tw-row.tw-selected').forEach((row) => row.classList.remove('tw-selected'));
  if (!info) {
    panel.hidden = true;
    panel.replaceChildren();
    return;
  }
  const range = (axis) => `${micrometres(info.min[axis])} … ${micrometres(info.max[axis])}`;
  const rows = [
    ['cell', info.cells.join(' / ') || '(top)'],
    ['layer', info.layer],
    ['part', info.id],
    ['x (µm)', range(0)],
    ['y (µm)', range(1)],
    ['z (µm)', range(2)],
    ['size (µm)', `${micrometres(info.max[0] - info.min[0])} × ${micrometres(info.max[1] - info.min[1])}`],
  ];
  const list = element('dl', {});
  for (const [key, value] of rows) list.append(element('dt', {}, key), element('dd', { 'data-key': key }, value));
  panel.replaceChildren(element('strong', {}, 'Picked shape'), list);
  panel.hidden = false;
  const row = viewer.tree.reveal(info.node);
  if (row) {
    row.firstElementChild.classList.add('tw-selected');
    row.scrollIntoView({ block: 'nearest' });
  }
}

function showCoordinates(reading) {
  const box = byId('tw-coords');
  if (!reading) {
    box.hidden = true;
    return;
  }
  const [x, y, z] = reading.point;
  box.hidden = false;
  box.textContent = `x ${micrometres(x)}  y ${micrometres(y)}${reading.onPlane ? '' : `  z ${micrometres(z)}`} µm`;
}

function showMeasure(points) {
  const box = byId('tw-measure');
  if (!points) {
    box.hidden = true;
    return;
  }
  box.hidden = false;
  if (points.length < 2) {
    box.textContent = points.length ? 'distance: click the second point' : 'distance: click the first point';
    return;
  }
  const [a, b] = points;
  const d = b.map((value, i) => value - a[i]);
  const distance = Math.hypot(...d);
  box.textContent =
    `distance ${micrometres(distance)} µm  (dx ${micrometres(d[0])}, dy ${micrometres(d[1])}, dz ${micrometres(d[2])})`;
  box.dataset.distance = String(distance);
}

function note(text) {
  const list = byId('tw-events');
  const time = new Date().toLocaleTimeString();
  list.prepend(element('li', {}, `${time} ${String(text)}`));
  while (list.children.length > EVENT_LIMIT) list.lastElementChild.remove();
  list.hidden = false;
}

// --- controls ---------------------------------------------------------------------------------

const buttons = {};

function button(key, label, title, action) {
  const node = element('button', { type: 'button', title, 'data-control': key }, label);
  node.addEventListener('click', action);
  buttons[key] = node;
  return node;
}

function controlsChanged() {
  if (!viewer) return;
  buttons.projection.textContent = viewer.camera.isOrtho ? 'Orthographic' : 'Perspective';
  buttons.edges.setAttribute('aria-pressed', String(Boolean(viewer.edges)));
  buttons.measure.setAttribute('aria-pressed', String(viewer.measuring));
  buttons.background.textContent = viewer.background === 'dark' ? 'Light' : 'Dark';
  buttons.help.setAttribute('aria-pressed', String(!byId('tw-help').hidden));
}

async function saveScreenshot() {
  const blob = await viewer.screenshot();
  const link = element('a', { href: URL.createObjectURL(blob), download: `${document.body.dataset.twScene || 'scene'}.png` });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  document.body.dataset.twScreenshot = String(blob.size);
}

const ACTIONS = {
  fit: () => viewer.fit(),
  top: () => viewer.preset('top'),
  side: () => viewer.preset('front'),
  iso: () => viewer.preset('iso'),
  projection: () => viewer.setOrtho(!viewer.camera.isOrtho),
  edges: () => {
    viewer.edges = !viewer.edges;
    viewer.requestRender();
  },
  axes: () => {
    viewer.showAxes = !viewer.showAxes;
    viewer.requestRender();
  },
  grid: () => {
    viewer.showGrid = viewer.showGrid.some(Boolean) ? [false, false, false] : [true, false, false];
    viewer.requestRender();
  },
  measure: () => viewer.setMeasuring(!viewer.measuring),
  background: () => viewer.setBackground(viewer.background === 'dark' ? 'light' : 'dark'),
  screenshot: () => saveScreenshot().catch((error) => showError(`no screenshot: ${error.message}`)),
  help: () => {
    byId('tw-help').hidden = !byId('tw-help').hidden;
  },
  search: () => byId('tw-search') && byId('tw-search').focus(),
  escape: () => {
    byId('tw-help').hidden = true;
    if (viewer.measuring) viewer.setMeasuring(false);
    viewer.select(null);
  },
};

// Key, what it does, action.
const SHORTCUTS = [
  ['f', 'fit the scene into the view', 'fit'],
  ['t', 'view from the top', 'top'],
  ['s', 'view from the side', 'side'],
  ['i', 'isometric view', 'iso'],
  ['o', 'orthographic or perspective projection', 'projection'],
  ['e', 'outlines on or off', 'edges'],
  ['a', 'axes on or off', 'axes'],
  ['g', 'grid on or off', 'grid'],
  ['m', 'distance tool: click two points', 'measure'],
  ['b', 'light or dark background', 'background'],
  ['p', 'save a PNG screenshot', 'screenshot'],
  ['/', 'search the part tree', 'search'],
  ['?', 'show or hide this help', 'help'],
  ['Escape', 'clear the pick, leave the distance tool, close the help', 'escape'],
];

function buildControls() {
  const zScale = element('input', { type: 'range', min: '-1', max: '3', step: '0.01', value: '0', title: 'z-scale' });
  const zValue = element('span', { class: 'tw-value' }, '1');
  zScale.addEventListener('input', () => {
    const factor = 10 ** Number(zScale.value);
    viewer.setZScale(factor);
    zValue.textContent = factor < 10 ? factor.toPrecision(2) : factor.toFixed(0);
  });
  const run = (key) => () => {
    ACTIONS[key]();
    controlsChanged();
  };
  byId('tw-controls').replaceChildren(
    element('label', { title: 'exaggerate heights' }, 'z ', zScale, zValue),
    button('fit', 'Fit', 'fit the scene into the view (f)', run('fit')),
    button('top', 'Top', 'view from the top (t)', run('top')),
    button('side', 'Side', 'view from the side (s)', run('side')),
    button('iso', 'Iso', 'isometric view (i)', run('iso')),
    button('projection', 'Orthographic', 'switch projection (o)', run('projection')),
    button('edges', 'Edges', 'outlines on or off (e)', run('edges')),
    button('measure', 'Measure', 'distance tool: click two points (m)', run('measure')),
    button('background', 'Dark', 'light or dark background (b)', run('background')),
    button('screenshot', 'PNG', 'save a PNG screenshot (p)', run('screenshot')),
    button('help', '?', 'keyboard shortcuts (?)', run('help')),
  );
  const table = element('table', {});
  for (const [key, text] of SHORTCUTS) {
    table.append(element('tr', {}, element('td', {}, element('kbd', {}, key)), element('td', {}, text)));
  }
  const mouse = element(
    'p',
    {},
    'Mouse: left drag orbits, right drag pans, the wheel zooms towards the cursor; a click picks a shape.',
  );
  const help = byId('tw-help');
  help.replaceChildren(element('div', {}, element('strong', {}, 'Keyboard shortcuts'), table, mouse));
  help.addEventListener('click', (event) => {
    if (event.target === help) run('help')();
  });
  document.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.metaKey || event.altKey) return;
    const target = event.target;
    if (target && (target.tagName === 'INPUT' || target.tagName === 'TEXTAREA')) {
      if (event.key === 'Escape') target.blur();
      return;
    }
    const shortcut = SHORTCUTS.find(([key]) => key === event.key || (key === 'Escape' && event.key === 'Esc'));
    if (!shortcut) return;
    event.preventDefault();
    run(shortcut[2])();
  });
}

// --- loading ----------------------------------------------------------------------------------

function show(content, options = {}) {
  if (!viewer) return Promise.reject(new Error('the viewer is not running'));
  return viewer.show(content, options);
}

async function showFile(file) {
  try {
    await show(await file.text(), { keepCamera: false, title: file.name });
  } catch (error) {
    showError(`cannot show ${file.name}: ${error.message}`);
  }
}

function start() {
  const style = document.createElement('style');
  style.textContent = STYLE;
  document.head.append(style);
  const page = {
    canvas: byId('tw-canvas'),
    tree: byId('tw-tree'),
    setState,
    showError,
    progress,
    sceneShown,
    showSelection,
    showCoordinates,
    showMeasure,
    controlsChanged,
  };
  try {
    viewer = new Viewer(page);
  } catch (error) {
    showError(`cannot start the viewer: ${error.message}`);
    throw error;
  }
  buildControls();
  controlsChanged();
  window.tarnwick = { show, note, inspect: () => viewer.inspect(), viewer };
  // Modules imported by this one run before it: they can wait for this event to use the API.
  document.dispatchEvent(new CustomEvent('tarnwick-ready', { detail: window.tarnwick }));
  const input = byId('tw-open');
  input.addEventListener('change', () => {
    if (input.files && input.files[0]) showFile(input.files[0]);
    input.value = '';
  });
  const view = byId('tw-view');
  view.addEventListener('dragover', (event) => event.preventDefault());
  view.addEventListener('drop', (event) => {
    event.preventDefault();
    const file = event.dataTransfer && event.dataTransfer.files[0];
    if (file) showFile(file);
  });
  progress('reading the page');
  const begin = () => {
    performance.mark('tw:page read');
    const embedded = byId('tarnwick-scene');
    const text = embedded ? embedded.textContent.trim() : '';
    if (embedded) embedded.textContent = '';
    performance.mark('tw:scene text taken');
    if (!text) {
      progress(null);
      byId('tw-title').textContent = 'tarnwick 3D view';
      byId('tw-empty').hidden = false;
      setState('empty');
      return;
    }
    show(text, { keepCamera: false, title: document.title }).catch(() => {});
  };
  if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', begin);
  else begin();
}

start();
