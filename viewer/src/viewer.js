// The viewer: keeps the scene, the camera, the planner and the renderer, and draws a frame
// whenever something changed. Its parts: loader.js (the loading worker), overlays.js (axes and
// grid), interaction.js (pointer, pick, distance tool), inspection.js (the interface for tests),
// depth.js (the depth ordering of faces in one plane).
import { Camera, PRESETS } from './camera.js';
import { parseColor, readConfig } from './config.js';
import { assignTieRanks, depthStep } from './depth.js';
import { inspection } from './inspection.js';
import { Interaction } from './interaction.js';
import { SceneLoader } from './loader.js';
import { axesLines, gridLines } from './overlays.js';
import { Planner } from './planner.js';
import { PartIndex } from './parts.js';
import { Renderer } from './renderer.js';
import { PartTree } from './tree.js';

const BACKGROUNDS = { light: [0.957, 0.961, 0.969], dark: [0.114, 0.137, 0.161] };

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
    this.renderPending = false;
    this.requested = new Set(); // geometries asked of the worker
    this.waiting = new Set(); // of those, the ones not triangulated yet
    this.frames = 0; // frames drawn
    this.presented = 0; // frames known to be on screen
    this.loader = new SceneLoader({
      progress: (stage, done, total, load) => {
        if (!load.drawn || stage === 'triangulating') this.page.progress(stage, done, total);
      },
      scene: (scene, load) => this.setScene(scene, load),
      caps: (message) => this.capsArrived(message),
      idle: (timings) => {
        this.timings = timings;
        this.detailChanged();
      },
      failed: (error, load) => {
        this.page.progress(null);
        this.page.showError(`cannot show the scene: ${error.message}`);
        if (!load.drawn) {
          load.drawn = true;
          load.reject(error);
        }
      },
    });
    this.interaction = new Interaction(this);
    new ResizeObserver(() => this.requestRender()).observe(this.canvas.parentElement);
  }

  // --- loading ------------------------------------------------------------------------------

  // Replaces the scene on screen with the depthview message `content` (JSON text or the parsed
  // message). keepCamera: true keeps the camera, false fits the new scene, 'auto' keeps it when
  // the new layout has about the same extent. Resolves with the scene's name once it is drawn;
  // resolves with null when a newer scene replaced it first; rejects when it cannot be shown.
  show(content, { keepCamera = 'auto', title = null } = {}) {
    this.cancelLoad();
    this.page.setState('loading');
    this.page.progress('reading the scene', 0, 1);
    return new Promise((resolve, reject) => {
      this.loader.start(content, { resolve, reject, keepCamera, title, drawn: false });
    });
  }

  cancelLoad() {
    const load = this.loader.cancel();
    if (load && !load.drawn) load.resolve(null);
  }

  // A scene is loading and not drawn yet.
  loading() {
    const load = this.loader.load;
    return Boolean(load && !load.drawn && !load.failed);
  }

  capsArrived(message) {
    for (const [polygon, full, rough] of message.items) this.renderer.uploadCaps(polygon, full, rough);
    this.renderer.markReady(message.geometries);
    for (const g of message.geometries) this.waiting.delete(g);
    // Only geometry that the view waits for changes the picture.
    this.requestRender();
  }

  // data-tw-detail is "complete" while every geometry the view asked for is triangulated.
  detailChanged() {
    const load = this.loader.load;
    if (!load || !load.drawn) return;
    if (this.waiting.size === 0) {
      document.body.dataset.twDetail = 'complete';
      this.page.progress(null);
    } else {
      delete document.body.dataset.twDetail;
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
    this.waiting = new Set();
    this.interaction.reset();
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
    const drawn = this.frames;
    requestAnimationFrame(() => {
      this.presented = Math.max(this.presented, drawn);
    });
    this.lastStats = { ...stats, detailed: plan.detailed, candidates: plan.candidates, near, far };
    const wanted = plan.requested.filter((g) => !this.requested.has(g));
    if (wanted.length && this.loader.load) {
      for (const g of wanted) {
        this.requested.add(g);
        this.waiting.add(g);
      }
      this.loader.request(wanted);
      this.detailChanged();
    }
    const load = this.loader.load;
    if (load && !load.drawn && scene && plan.requested.length === 0) {
      performance.mark('tw:first frame');
      load.drawn = true;
      this.page.setState('ready', scene);
      this.detailChanged();
      load.resolve(scene.name);
    }
  }

  // Axes, grids, the picked outline and the measurement, in scene coordinates.
  helperLines() {
    if (!this.scene || !this.bounds) return [];
    const lines = [];
    const { min, max } = this.scaledBounds();
    if (this.showAxes) {
      const centre = this.scene.instances.center;
      const origin = this.settings.axesAtOrigin
        ? [-centre[0], -centre[1], 0]
        : [(min[0] + max[0]) / 2, (min[1] + max[1]) / 2, 0];
      lines.push(axesLines(origin, Math.max(max[0] - min[0], max[1] - min[1], 1e-3) / 2));
    }
    if (this.showGrid.some(Boolean)) {
      lines.push(gridLines(min, max, this.showGrid, this.settings.ticks, this.background === 'dark'));
    }
    return lines.concat(this.interaction.lines());
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

  // --- picking, readout and measuring (interaction.js) -------------------------------------

  get measuring() {
    return this.interaction.measuring;
  }

  hitAt(x, y) {
    return this.interaction.hitAt(x, y);
  }

  layoutPoint(point) {
    return this.interaction.layoutPoint(point);
  }

  select(hit) {
    this.interaction.select(hit);
  }

  setMeasuring(on) {
    this.interaction.setMeasuring(on);
  }

  // --- output -------------------------------------------------------------------------------

  // A PNG of the view, drawn now so that the drawing buffer holds it.
  screenshot() {
    this.draw();
    return new Promise((resolve, reject) => {
      this.canvas.toBlob((blob) => (blob ? resolve(blob) : reject(new Error('no screenshot'))), 'image/png');
    });
  }
}

Object.assign(Viewer.prototype, inspection);

function sameExtent(a, b) {
  if (!a || !b) return false;
  for (let axis = 0; axis < 2; axis += 1) {
    const sizeA = a.max[axis] - a.min[axis];
    const sizeB = b.max[axis] - b.min[axis];
    if (Math.abs(sizeA - sizeB) > SAME_EXTENT * Math.max(sizeA, sizeB, 1e-9)) return false;
  }
  return true;
}
