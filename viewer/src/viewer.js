// The viewer: loads scenes through the worker, keeps the camera, the planner and the renderer, and
// draws a frame whenever something changed. Picking, the coordinate readout and the distance tool
// live here too, because they need the camera and the scene of the last frame.
import { Camera, PRESETS } from './camera.js';
import { parseColor, readConfig } from './config.js';
import { pick, placedBox, placedOutline } from './pick.js';
import { Planner } from './planner.js';
import { INSTANCE_FLOATS } from './prepare.js';
import { PartIndex } from './parts.js';
import { DEPTH_STEP_MAX, DEPTH_STEP_MIN, Renderer } from './renderer.js';
import { PartTree } from './tree.js';
import WORKER_SOURCE from 'tarnwick:worker';

const BACKGROUNDS = { light: [0.957, 0.961, 0.969], dark: [0.114, 0.137, 0.161] };
const CLICK_PIXELS = 4;
const AXIS_COLORS = [
  [0.85, 0.2, 0.2, 1],
  [0.2, 0.65, 0.25, 1],
  [0.2, 0.35, 0.9, 1],
];

// Extents (x, y) that differ by at most this share count as "the same layout" for keepCamera 'auto'.
const SAME_EXTENT = 0.1;

export class Viewer {
  // page: the page's elements (see main.js) and its callbacks.
  constructor(page) {
    this.page = page;
    this.canvas = page.canvas;
    this.renderer = new Renderer(this.canvas);
    this.camera = new Camera(this.canvas, { ortho: true });
    this.camera.onChange(() => this.requestRender());
    this.scene = null;
    this.zScale = 1;
    this.background = 'light';
    this.settings = readConfig({});
    this.showAxes = false;
    this.showGrid = [false, false, false];
    this.frameData = null;
    this.plan = null;
    this.load = null; // the load in progress: {token, worker, resolve, reject, ...}
    this.token = 0;
    this.measuring = false;
    this.measurePoints = [];
    this.selection = null;
    this.renderPending = false;
    this.requested = new Set();
    this.frames = 0;
    this.pointer = null;
    this.canvas.addEventListener('pointerdown', (event) => this.pointerDown(event));
    this.canvas.addEventListener('pointerup', (event) => this.pointerUp(event));
    this.canvas.addEventListener('pointermove', (event) => this.pointerMove(event));
    this.canvas.addEventListener('pointerleave', () => this.page.showCoordinates(null));
    new ResizeObserver(() => this.requestRender()).observe(this.canvas.parentElement);
  }

  // --- loading ------------------------------------------------------------------------------

  // Replaces the scene on screen with the depthview message `content` (JSON text or the parsed
  // message). keepCamera: true keeps the camera, false fits the new scene, 'auto' keeps it when
  // the new layout has about the same extent. Resolves with the scene's name once it is drawn;
  // resolves with null when a newer scene replaced it first; rejects when it cannot be shown.
  show(content, { keepCamera = 'auto', title = null } = {}) {
    this.cancelLoad();
    const token = ++this.token;
    this.page.setState('loading');
    this.page.progress('reading the scene', 0, 1);
    return new Promise((resolve, reject) => {
      const url = URL.createObjectURL(new Blob([WORKER_SOURCE], { type: 'text/javascript' }));
      const worker = new Worker(url);
      URL.revokeObjectURL(url);
      this.load = { token, worker, resolve, reject, keepCamera, title, drawn: false };
      worker.onmessage = (event) => this.fromWorker(token, event.data);
      worker.onerror = (event) => {
        event.preventDefault();
        this.failLoad(token, new Error(event.message || 'the loading worker failed'));
      };
      worker.postMessage({ type: 'load', content });
      performance.mark('tw:scene sent to the worker');
    });
  }

  cancelLoad() {
    const load = this.load;
    if (!load) return;
    this.load = null;
    if (!load.done) load.worker.terminate();
    if (!load.drawn) load.resolve(null);
  }

  failLoad(token, error) {
    const load = this.load;
    if (!load || load.token !== token) return;
    load.worker.terminate();
    load.done = true;
    this.page.progress(null);
    this.page.showError(`cannot show the scene: ${error.message}`);
    if (!load.drawn) {
      load.drawn = true;
      load.reject(error);
    }
  }

  fromWorker(token, message) {
    const load = this.load;
    if (!load || load.token !== token) return;
    try {
      if (message.type === 'progress') {
        if (!load.drawn || message.stage === 'triangulating') {
          this.page.progress(message.stage, message.done, message.total);
        }
      } else if (message.type === 'scene') {
        performance.mark('tw:scene prepared');
        this.timings = message.scene.timings;
        this.setScene(message.scene, load);
        performance.mark('tw:scene set up');
      } else if (message.type === 'caps') {
        for (const [polygon, full, rough] of message.items) this.renderer.uploadCaps(polygon, full, rough);
        this.renderer.markReady(message.geometries);
        // Only geometry that the view asked for changes the picture; the rest waits for a later
        // frame, so that a large scene loading in the background costs no frames.
        if (message.geometries.some((g) => this.requested.has(g))) this.requestRender();
      } else if (message.type === 'done') {
        // The worker closes itself: terminating it from here would tear its heap down on this
        // thread.
        load.done = true;
        this.timings = message.timings;
        document.body.dataset.twDetail = 'complete';
        this.page.progress(null);
      } else if (message.type === 'error') {
        this.failLoad(token, new Error(message.message));
      }
    } catch (error) {
      this.failLoad(token, error);
    }
  }

  setScene(scene, load) {
    const previous = this.scene;
    const previousBounds = this.bounds;
    const previousCentre = previous ? previous.instances.center : null;
    const hidden = previous ? this.hiddenIds() : new Set();
    this.settings = readConfig(scene.config);
    const defaultRgb = parseColor(this.settings.defaultColor) || [0.91, 0.69, 0.14];
    // Layer ranks: by top, then by bottom (for the part tree and the page's state); tie ranks:
    // among layers whose tops (or bottoms) lie in one plane, the thinner layer wins.
    const byHeight = scene.layers
      .map((layer, i) => [layer.zmin + layer.height, layer.zmin, i])
      .sort((a, b) => a[0] - b[0] || a[1] - b[1]);
    byHeight.forEach(([, , i], rank) => {
      scene.layers[i].rank = rank;
    });
    scene.maxTieRank = assignTieRanks(scene.layers);
    scene.layers.forEach((layer) => {
      layer.rgb = parseColor(layer.color) || defaultRgb;
    });
    this.scene = scene;
    this.index = new PartIndex(scene.tree, scene.leafLayer, scene.layers);
    const names = new Array(scene.layers.length).fill('');
    for (let leaf = 0; leaf < scene.leafLayer.length; leaf += 1) {
      if (!names[scene.leafLayer[leaf]]) names[scene.leafLayer[leaf]] = this.index.layerName(leaf);
    }
    scene.layers.forEach((layer, i) => {
      layer.name = names[i];
    });
    this.visible = new Uint8Array(scene.leafLayer.length).fill(1);
    if (hidden.size) {
      scene.tree.ids.forEach((id, node) => {
        const leaf = scene.tree.leafOf[node];
        if (leaf >= 0 && hidden.has(id)) this.visible[leaf] = 0;
      });
    }
    this.renderer.setScene(scene);
    this.renderer.setVisible(this.visible);
    this.planner = new Planner(scene);
    this.planner.setVisible(this.visible);
    this.requested = new Set();
    this.selection = null;
    this.measurePoints = [];
    this.page.showSelection(null);
    this.page.showMeasure(null);
    this.tree = new PartTree(this.page.tree, this.index, this.visible, {
      colors: scene.layers.map((layer) => layer.color),
      collapse: this.settings.collapse,
      onChange: () => {
        this.renderer.setVisible(this.visible);
        this.planner.setVisible(this.visible);
        this.requestRender();
      },
    });
    this.showAxes = this.settings.axes;
    this.showGrid = this.settings.grid.slice();
    this.edges = this.settings.edges;
    const bounds = scene.instances.bounds;
    const centre = scene.instances.center;
    this.bounds = bounds
      ? {
          min: [bounds.min[0] - centre[0], bounds.min[1] - centre[1], bounds.min[2]],
          max: [bounds.max[0] - centre[0], bounds.max[1] - centre[1], bounds.max[2]],
        }
      : { min: [-1, -1, 0], max: [1, 1, 1] };
    let keep = load.keepCamera;
    if (keep === 'auto') keep = previous ? sameExtent(previousBounds, this.bounds) : false;
    this.camera.setUp(this.settings.up);
    const { rotateSpeed, zoomSpeed, panSpeed } = this.settings;
    this.camera.setSpeeds({ rotate: rotateSpeed, zoom: zoomSpeed, pan: panSpeed });
    if (keep && previous) {
      // The camera stays where it was in layout coordinates.
      const shift = [previousCentre[0] - centre[0], previousCentre[1] - centre[1], 0];
      this.camera.camera.position.add({ x: shift[0], y: shift[1], z: 0 });
      this.camera.controls.target.add({ x: shift[0], y: shift[1], z: 0 });
      this.camera.controls.update();
    } else {
      this.camera.setOrtho(this.settings.ortho);
      this.resize();
      this.camera.fit(this.scaledBounds(), PRESETS.iso);
    }
    this.page.sceneShown(scene, load.title);
    delete document.body.dataset.twDetail;
    this.requestRender();
  }

  hiddenIds() {
    const hidden = new Set();
    const { ids, leafOf } = this.scene.tree;
    ids.forEach((id, node) => {
      if (leafOf[node] >= 0 && !this.visible[leafOf[node]]) hidden.add(id);
    });
    return hidden;
  }

  scaledBounds() {
    const { min, max } = this.bounds;
    return { min: [min[0], min[1], min[2] * this.zScale], max: [max[0], max[1], max[2] * this.zScale] };
  }

  // --- drawing ------------------------------------------------------------------------------

  requestRender() {
    if (this.renderPending) return;
    this.renderPending = true;
    requestAnimationFrame(() => {
      this.renderPending = false;
      this.draw();
    });
  }

  resize() {
    const view = this.canvas.parentElement;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round((view.clientWidth || 800) * ratio));
    const height = Math.max(1, Math.round((view.clientHeight || 600) * ratio));
    if (this.canvas.width !== width || this.canvas.height !== height) {
      this.canvas.width = width;
      this.canvas.height = height;
    }
    this.camera.setSize(view.clientWidth || 800, view.clientHeight || 600);
  }

  draw() {
    this.resize();
    const scene = this.scene;
    const lines = this.helperLines();
    let near = Infinity;
    let far = -Infinity;
    let plan = { near, far, detailRadius: 4, list: new Uint32Array(0), drawBase: new Uint32Array(0), calls: [], requested: [], detailed: 0, candidates: 0 };
    const provisional = this.camera.frame(-1, 1);
    if (scene) {
      plan = this.planner.plan(
        { ...provisional, zScale: this.zScale },
        { visible: this.visible, ready: this.renderer.ready, budget: this.budget },
      );
      near = plan.near;
      far = plan.far;
    }
    // The helper lines must lie between the planes too.
    const dir = provisional.dir;
    const eye = provisional.eye;
    for (const { positions } of lines) {
      for (let i = 0; i < positions.length; i += 3) {
        const depth =
          (positions[i] - eye[0]) * dir[0] + (positions[i + 1] - eye[1]) * dir[1] + (positions[i + 2] - eye[2]) * dir[2];
        near = Math.min(near, depth);
        far = Math.max(far, depth);
      }
    }
    if (!(near <= far)) {
      near = 0.1;
      far = 10;
    }
    const span = far - near;
    if (this.camera.isOrtho) {
      near -= 0.02 * span + 1e-3;
      far += 0.02 * span + 1e-3;
    } else {
      far = far * 1.02 + 1e-6;
      near = Math.max(near * 0.98, far * 1e-6);
    }
    const frame = this.camera.frame(near, far);
    const target = this.camera.controls.target;
    frame.depthStep = depthStep(frame.viewProjDouble, [target.x, target.y, target.z], this.canvas.width, this.canvas.height);
    this.frameData = frame;
    this.plan = plan;
    const stats = this.renderer.render({
      ...frame,
      zScale: this.zScale,
      plan,
      width: this.canvas.width,
      height: this.canvas.height,
      background: BACKGROUNDS[this.background],
      opacity: this.settings.opacity,
      edges: this.edges,
      edgeColor: parseColor(this.settings.edgeColor) || [0.44, 0.44, 0.44],
      lines,
    });
    this.frames += 1;
    this.lastStats = { ...stats, detailed: plan.detailed, candidates: plan.candidates, near, far };
    const wanted = plan.requested.filter((g) => !this.requested.has(g));
    if (wanted.length && this.load && !this.load.done) {
      for (const g of wanted) this.requested.add(g);
      this.load.worker.postMessage({ type: 'priority', geometries: wanted });
    }
    const load = this.load;
    if (load && !load.drawn && scene && plan.requested.length === 0) {
      performance.mark('tw:first frame');
      load.drawn = true;
      this.page.setState('ready', scene);
      if (!load.done) this.page.progress('triangulating', 0, 1);
      load.resolve(scene.name);
    }
  }

  // Axes, grids, the picked outline and the measurement, in scene coordinates.
  helperLines() {
    const lines = [];
    if (!this.scene || !this.bounds) return lines;
    const { min, max } = this.scaledBounds();
    const size = Math.max(max[0] - min[0], max[1] - min[1], 1e-3);
    if (this.showAxes) {
      const centre = this.scene.instances.center;
      const origin = this.settings.axesAtOrigin
        ? [-centre[0], -centre[1], 0]
        : [(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, 0];
      const length = size / 2;
      const positions = [];
      const colors = [];
      for (let axis = 0; axis < 3; axis += 1) {
        const end = origin.slice();
        end[axis] += length;
        positions.push(...origin, ...end);
        colors.push(...AXIS_COLORS[axis], ...AXIS_COLORS[axis]);
      }
      lines.push({ positions: Float32Array.from(positions), colors: Float32Array.from(colors) });
    }
    if (this.showGrid.some(Boolean)) lines.push(this.gridLines(min, max));
    if (this.selection) {
      const { slot, polygon } = this.selection;
      const layer = this.scene.layers[this.scene.instances.records[INSTANCE_FLOATS * slot + 12]];
      const positions = placedOutline(this.scene, slot, polygon, (layer.zmin + layer.height) * this.zScale);
      const colors = new Float32Array((positions.length / 3) * 4);
      for (let i = 0; i < colors.length; i += 4) colors.set([1, 0.84, 0, 1], i);
      lines.push({ positions, colors, overlay: true });
    }
    if (this.measurePoints.length) {
      const centre = this.scene.instances.center;
      const points = this.measurePoints.map(([x, y, z]) => [x - centre[0], y - centre[1], z * this.zScale]);
      const colors = points.flatMap(() => [0.9, 0.1, 0.5, 1]);
      lines.push({ positions: Float32Array.from(points.flat()), colors: Float32Array.from(colors), mode: 'points', overlay: true });
      if (points.length === 2) {
        lines.push({ positions: Float32Array.from(points.flat()), colors: Float32Array.from(colors), overlay: true });
      }
    }
    return lines;
  }

  gridLines(min, max) {
    const positions = [];
    const colors = [];
    const span = Math.max(max[0] - min[0], max[1] - min[1], max[2] - min[2], 1e-3);
    const step = niceStep(span / this.settings.ticks);
    const color = this.background === 'dark' ? [0.5, 0.55, 0.6, 0.6] : [0.45, 0.5, 0.55, 0.45];
    const range = (lo, hi) => {
      const values = [];
      for (let v = Math.floor(lo / step) * step; v <= hi + step * 1e-6; v += step) values.push(v);
      return values;
    };
    // Planes xy (z = bottom of the scene), xz and yz (through the scene's near sides).
    const planes = [
      [0, 1, 2, min[2]],
      [0, 2, 1, max[1]],
      [1, 2, 0, min[0]],
    ];
    planes.forEach(([u, v, w, at], i) => {
      if (!this.showGrid[i]) return;
      const uValues = range(min[u], max[u]);
      const vValues = range(min[v], max[v]);
      const uLo = uValues[0];
      const uHi = uValues[uValues.length - 1];
      const vLo = vValues[0];
      const vHi = vValues[vValues.length - 1];
      const point = (a, b) => {
        const p = [0, 0, 0];
        p[u] = a;
        p[v] = b;
        p[w] = at;
        return p;
      };
      for (const a of uValues) positions.push(...point(a, vLo), ...point(a, vHi));
      for (const b of vValues) positions.push(...point(uLo, b), ...point(uHi, b));
    });
    for (let i = 0; i < positions.length / 3; i += 1) colors.push(...color);
    return { positions: Float32Array.from(positions), colors: Float32Array.from(colors) };
  }

  // --- navigation ---------------------------------------------------------------------------

  fit() {
    if (this.bounds) this.camera.fit(this.scaledBounds());
  }

  preset(name) {
    if (this.bounds) this.camera.fit(this.scaledBounds(), PRESETS[name]);
  }

  setOrtho(ortho) {
    this.camera.setOrtho(ortho);
    this.page.controlsChanged();
  }

  setZScale(factor) {
    const ratio = factor / this.zScale;
    this.zScale = factor;
    // Keep looking at the same point of the layout, from the same side.
    const { controls, camera } = this.camera;
    const offset = camera.position.z - controls.target.z;
    controls.target.z *= ratio;
    camera.position.z = controls.target.z + offset;
    controls.update();
    this.requestRender();
  }

  setBackground(name) {
    this.background = name;
    document.body.classList.toggle('tw-dark', name === 'dark');
    this.requestRender();
  }

  // --- picking, readout and measuring -------------------------------------------------------

  canvasPoint(event) {
    const rect = this.canvas.getBoundingClientRect();
    return [event.clientX - rect.left, event.clientY - rect.top];
  }

  // What lies under the canvas point (x, y): the picked polygon, or the point on the plane z = 0.
  hitAt(x, y) {
    if (!this.scene || !this.frameData) return null;
    const ray = this.camera.ray(this.frameData, x, y);
    const hit = pick(this.scene, ray, { visible: this.visible, zScale: this.zScale });
    if (hit) return hit;
    if (ray.direction[2] === 0) return null;
    const t = -ray.origin[2] / ray.direction[2];
    if (!(t >= 0)) return null;
    return { point: ray.origin.map((value, i) => value + t * ray.direction[i]), plane: true };
  }

  // Scene coordinates to layout coordinates (micrometres, z without the z-scale).
  layoutPoint(point) {
    const centre = this.scene.instances.center;
    return [point[0] + centre[0], point[1] + centre[1], point[2] / this.zScale];
  }

  pointerDown(event) {
    this.pointer = { x: event.clientX, y: event.clientY, button: event.button };
  }

  pointerUp(event) {
    const down = this.pointer;
    this.pointer = null;
    if (!down || down.button !== 0) return;
    if (Math.hypot(event.clientX - down.x, event.clientY - down.y) > CLICK_PIXELS) return;
    const [x, y] = this.canvasPoint(event);
    this.clickAt(x, y);
  }

  clickAt(x, y) {
    const hit = this.hitAt(x, y);
    if (this.measuring) {
      if (!hit) return;
      if (this.measurePoints.length >= 2) this.measurePoints = [];
      this.measurePoints.push(this.layoutPoint(hit.point));
      this.page.showMeasure(this.measurePoints);
      this.requestRender();
      return;
    }
    this.select(hit && !hit.plane ? hit : null);
  }

  select(hit) {
    if (!hit) {
      this.selection = null;
      this.page.showSelection(null);
      this.requestRender();
      return;
    }
    const box = placedBox(this.scene, hit.slot, hit.polygon);
    const centre = this.scene.instances.center;
    const node = this.index.leafNode[hit.leaf];
    this.selection = { slot: hit.slot, polygon: hit.polygon, leaf: hit.leaf };
    this.page.showSelection({
      id: this.scene.tree.ids[node],
      node,
      cells: this.index.cellPath(hit.leaf),
      layer: this.index.layerName(hit.leaf),
      min: [box.min[0] + centre[0], box.min[1] + centre[1], box.min[2]],
      max: [box.max[0] + centre[0], box.max[1] + centre[1], box.max[2]],
    });
    this.requestRender();
  }

  pointerMove(event) {
    if (this.readoutPending || !this.scene) return;
    this.readoutPending = true;
    const point = this.canvasPoint(event);
    requestAnimationFrame(() => {
      this.readoutPending = false;
      const hit = this.hitAt(...point);
      this.page.showCoordinates(hit ? { point: this.layoutPoint(hit.point), onPlane: Boolean(hit.plane) } : null);
    });
  }

  setMeasuring(on) {
    this.measuring = on;
    if (!on) this.measurePoints = [];
    this.canvas.classList.toggle('tw-measuring', on);
    this.page.showMeasure(on ? this.measurePoints : null);
    this.requestRender();
  }

  // --- output -------------------------------------------------------------------------------

  // A PNG of the view, drawn now so that the drawing buffer holds it.
  screenshot() {
    this.draw();
    return new Promise((resolve, reject) => {
      this.canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error('no screenshot'))), 'image/png');
    });
  }

  // State for the page's tests and for the curious.
  inspect() {
    const scene = this.scene;
    const centre = scene ? scene.instances.center : [0, 0];
    const camera = this.camera.camera;
    return {
      state: document.body.dataset.twState,
      name: scene ? scene.name : null,
      counts: scene ? scene.counts : null,
      stats: this.lastStats || null,
      timings: this.timings || null,
      marks: Object.fromEntries(
        performance.getEntriesByType('mark').filter((m) => m.name.startsWith('tw:')).map((m) => [m.name.slice(3), m.startTime / 1000]),
      ),
      frames: this.frames,
      ortho: this.camera.isOrtho,
      zScale: this.zScale,
      opacity: this.settings.opacity,
      edges: this.edges,
      axes: this.showAxes,
      grid: this.showGrid.slice(),
      up: camera.up.toArray(),
      background: this.background,
      camera: {
        position: [camera.position.x + centre[0], camera.position.y + centre[1], camera.position.z],
        target: [this.camera.controls.target.x + centre[0], this.camera.controls.target.y + centre[1], this.camera.controls.target.z],
        zoom: camera.zoom,
        near: camera.near,
        far: camera.far,
        pixel: this.camera.pixelAtTarget(),
      },
      layers: scene
        ? scene.layers.map(({ name, color, zmin, height, rank }) => ({ name, color, zmin, height, rank }))
        : [],
      visible: this.visible ? Array.from(this.visible) : [],
      measuring: this.measuring,
      measure: this.measurePoints.map((p) => p.slice()),
    };
  }

  // The view's pixels from a frame drawn now: RGB bytes, top row first, every `step`-th pixel of
  // every `step`-th row, as base64 text (for tests comparing views).
  snapshot(step = 1) {
    this.draw();
    const gl = this.renderer.gl;
    const { width, height } = this.canvas;
    const rgba = new Uint8Array(4 * width * height);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
    const columns = Math.ceil(width / step);
    const rows = Math.ceil(height / step);
    const rgb = new Uint8Array(3 * columns * rows);
    let k = 0;
    for (let y = 0; y < height; y += step) {
      const row = height - 1 - y;
      for (let x = 0; x < width; x += step) {
        const o = 4 * (row * width + x);
        rgb[k++] = rgba[o];
        rgb[k++] = rgba[o + 1];
        rgb[k++] = rgba[o + 2];
      }
    }
    let text = '';
    for (let i = 0; i < rgb.length; i += 0x8000) text += String.fromCharCode(...rgb.subarray(i, i + 0x8000));
    return { width: columns, height: rows, step, rgb: btoa(text) };
  }

  // The colours [r, g, b] of the view at client points [x, y], from a frame drawn now.
  colorsAt(points) {
    this.draw();
    const gl = this.renderer.gl;
    const rect = this.canvas.getBoundingClientRect();
    const scale = this.canvas.width / rect.width;
    const out = new Uint8Array(4);
    return points.map(([x, y]) => {
      const px = Math.floor((x - rect.left) * scale);
      const py = this.canvas.height - 1 - Math.floor((y - rect.top) * scale);
      gl.readPixels(px, py, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, out);
      return [out[0], out[1], out[2]];
    });
  }

  // The world 2x3 matrices (layout coordinates) of the placements of the leaf with id `id`.
  placements(id) {
    const scene = this.scene;
    const node = scene.tree.ids.indexOf(id);
    if (node < 0) return null;
    const leaf = scene.tree.leafOf[node];
    const { records, count, center } = scene.instances;
    const out = [];
    for (let slot = 0; slot < count; slot += 1) {
      const o = INSTANCE_FLOATS * slot;
      if (records[o + 7] !== leaf) continue;
      out.push([records[o], records[o + 1], records[o + 2] + center[0], records[o + 3], records[o + 4], records[o + 5] + center[1]]);
    }
    return out;
  }

  // Client (page) coordinates of a layout point (micrometres), as drawn in the last frame.
  screenPoint([x, y, z]) {
    const centre = this.scene.instances.center;
    const m = this.frameData.viewProjDouble;
    const p = [x - centre[0], y - centre[1], z * this.zScale];
    const clip = [0, 1, 3].map((r) => m[r] * p[0] + m[r + 4] * p[1] + m[r + 8] * p[2] + m[r + 12]);
    const rect = this.canvas.getBoundingClientRect();
    return [rect.left + ((clip[0] / clip[2] + 1) / 2) * rect.width, rect.top + ((1 - clip[1] / clip[2]) / 2) * rect.height];
  }
}

// Sets tieTop and tieBottom of each layer: its place, thickest first, among the layers whose top
// (bottom) lies at the same height. Returns the largest.
export function assignTieRanks(layers) {
  let largest = 0;
  for (const [key, field] of [
    [(layer) => layer.zmin + layer.height, 'tieTop'],
    [(layer) => layer.zmin, 'tieBottom'],
  ]) {
    const planes = new Map();
    for (const layer of layers) {
      const z = key(layer);
      if (!planes.has(z)) planes.set(z, []);
      planes.get(z).push(layer);
    }
    for (const sharing of planes.values()) {
      sharing.sort((a, b) => b.height - a.height);
      sharing.forEach((layer, rank) => {
        layer[field] = rank;
        largest = Math.max(largest, rank);
      });
    }
  }
  return largest;
}

// The depth step of a frame (see renderer.js): an eighth of a pixel's worth of depth change of a
// horizontal face at the target, so that faces in one plane keep their order however their
// triangles are snapped to the pixel grid; clamped for faces seen nearly edge-on.
export function depthStep(viewProj, target, width, height) {
  const project = (x, y, z) => {
    const m = viewProj;
    const w = m[3] * x + m[7] * y + m[11] * z + m[15];
    return [0, 1, 2].map((r) => (m[r] * x + m[r + 4] * y + m[r + 8] * z + m[r + 12]) / w);
  };
  const [x, y, z] = target;
  const o = project(x, y, z);
  const u = project(x + 1, y, z).map((v, i) => v - o[i]);
  const v = project(x, y + 1, z).map((value, i) => value - o[i]);
  // Screen pixels per unit step along x and y of the face, and the depth change of each.
  const determinant = u[0] * v[1] - u[1] * v[0];
  if (Math.abs(determinant) < 1e-30) return DEPTH_STEP_MAX;
  // Depth gradient in NDC x and y: solve [u v] g = [uz vz].
  const gx = (u[2] * v[1] - v[2] * u[1]) / determinant;
  const gy = (v[2] * u[0] - u[2] * v[0]) / determinant;
  const perPixel = Math.max(Math.abs(gx) * (2 / width), Math.abs(gy) * (2 / height));
  return Math.min(DEPTH_STEP_MAX, Math.max(DEPTH_STEP_MIN, perPixel / 8));
}

function sameExtent(a, b) {
  if (!a || !b) return false;
  for (let axis = 0; axis < 2; axis += 1) {
    const sizeA = a.max[axis] - a.min[axis];
    const sizeB = b.max[axis] - b.min[axis];
    if (Math.abs(sizeA - sizeB) > SAME_EXTENT * Math.max(sizeA, sizeB, 1e-9)) return false;
  }
  return true;
}

// 1, 2 or 5 times a power of ten, at least `value`.
export function niceStep(value) {
  const power = 10 ** Math.floor(Math.log10(Math.max(value, 1e-12)));
  for (const factor of [1, 2, 5, 10]) if (factor * power >= value) return factor * power;
  return 10 * power;
}

