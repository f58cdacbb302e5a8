// The tarnwick 3D viewer page: reads the depthview message embedded in the page (or a JSON file the
// user opens), builds one merged, extruded mesh per scene leaf, draws repeated placements with
// instancing, and offers the tree of parts with visibility toggles, orbit controls and a z-scale.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import {
  extrude,
  decodeBuffer,
  placementMatrices,
  readMessage,
  sceneCounts,
  shapeBounds,
} from './scene.js';
import STYLE from './style.css';
import './live.js';

const BACKGROUND = 0xf4f5f7;

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === 'class') node.className = value;
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

// The page's state for people and for headless checks: <body data-tw-state="ready|error|empty">,
// with the counts of what was drawn and the number of errors seen.
function setState(state, details = {}) {
  document.body.dataset.twState = state;
  for (const [key, value] of Object.entries(details)) document.body.dataset[key] = String(value);
}

let errorCount = 0;
window.addEventListener('error', () => {
  errorCount += 1;
  document.body.dataset.twErrors = String(errorCount);
});

function showError(message) {
  console.error(message);
  setState('error');
  const box = document.getElementById('tw-error');
  if (box) {
    box.textContent = message;
    box.hidden = false;
  }
}

// Builds the three.js objects of a scene. Each Parts node becomes a group and each Part a mesh of
// its extruded polygons; a Part with placement matrices becomes an InstancedMesh with one instance
// per placement, so a cell placed thousands of times costs one draw call per layer.
function buildScene(root, instances, config) {
  const materials = new Map();
  const material = (color) => {
    const key = color || config.default_color || '#e8b024';
    if (!materials.has(key)) {
      materials.set(
        key,
        new THREE.MeshStandardMaterial({
          color: new THREE.Color(key),
          metalness: config.metalness ?? 0.3,
          roughness: config.roughness ?? 0.65,
          flatShading: true,
          side: THREE.DoubleSide,
        }),
      );
    }
    return materials.get(key);
  };
  const box = new THREE.Box3();
  const objects = new Map();
  const placed = new THREE.Matrix4();

  const build = (node) => {
    const [position = [0, 0, 0], rotation = [0, 0, 0, 1]] = node.loc || [];
    let object;
    if (node.shape) {
      const { refs = [], height = 0 } = node.shape;
      const matrices = node.shape.matrices ? decodeBuffer(node.shape.matrices) : new Float32Array(0);
      const mesh = extrude(instances, refs, height);
      const geometry = new THREE.BufferGeometry();
      geometry.setAttribute('position', new THREE.BufferAttribute(mesh.positions, 3));
      geometry.setIndex(new THREE.BufferAttribute(mesh.indices, 1));
      const placements = Math.floor(matrices.length / 6);
      if (placements > 0) {
        object = new THREE.InstancedMesh(geometry, material(node.color), placements);
        object.instanceMatrix.array.set(placementMatrices(matrices));
        object.instanceMatrix.needsUpdate = true;
        object.computeBoundingBox();
        object.computeBoundingSphere();
      } else {
        object = new THREE.Mesh(geometry, material(node.color));
      }
      const bounds = shapeBounds(mesh.bounds, matrices, 0, height);
      if (bounds) {
        placed.compose(
          new THREE.Vector3(...position),
          new THREE.Quaternion(...rotation),
          new THREE.Vector3(1, 1, 1),
        );
        box.union(
          new THREE.Box3(new THREE.Vector3(...bounds.min), new THREE.Vector3(...bounds.max))
            .applyMatrix4(placed),
        );
      }
    } else {
      object = new THREE.Group();
      for (const child of node.parts || []) object.add(build(child));
    }
    object.name = node.name ?? '';
    object.position.set(...position);
    object.quaternion.set(...rotation);
    objects.set(node, object);
    return object;
  };
  const scene = build(root);
  return { scene, box, objects };
}

// The tree of parts. Children are created when a node is first opened, so that scenes with many
// thousands of nodes open at once.
function buildTree(container, root, objects, onChange, openDepth) {
  const item = (node, depth) => {
    const object = objects.get(node);
    const toggle = element('input', { type: 'checkbox', title: 'show or hide' });
    toggle.checked = true;
    toggle.addEventListener('change', () => {
      object.visible = toggle.checked;
      onChange();
    });
    const label = element('span', { class: 'tw-name', title: node.id || node.name }, node.name);
    if (node.shape) {
      const swatch = element('span', { class: 'tw-swatch' });
      swatch.style.background = node.color || '#888';
      return element('li', { class: 'tw-leaf' }, toggle, swatch, label);
    }
    const children = node.parts || [];
    const summary = element('summary', {}, toggle, label);
    const details = element('details', {}, summary);
    let filled = false;
    const fill = () => {
      if (filled) return;
      filled = true;
      details.append(element('ul', {}, ...children.map((child) => item(child, depth + 1))));
    };
    details.addEventListener('toggle', () => details.open && fill());
    if (depth < openDepth && children.length <= 200) {
      details.open = true;
      fill();
    }
    toggle.addEventListener('click', (event) => event.stopPropagation());
    return element('li', {}, details);
  };
  container.replaceChildren(element('ul', { class: 'tw-root' }, item(root, 0)));
}

// The scene on screen: what a later show() needs to release it and to keep its camera.
let current = null;

// Whether two scene extents are about the same: sizes within a quarter of each other and centres
// closer than a quarter of the diagonal.
function sameExtent(a, b) {
  if (!a || !b || a.isEmpty() || b.isEmpty()) return false;
  const sizeA = a.getSize(new THREE.Vector3());
  const sizeB = b.getSize(new THREE.Vector3());
  const diagonal = Math.max(sizeA.length(), sizeB.length(), 1e-9);
  const centres = a.getCenter(new THREE.Vector3()).distanceTo(b.getCenter(new THREE.Vector3()));
  return sizeA.distanceTo(sizeB) <= 0.25 * diagonal && centres <= 0.25 * diagonal;
}

function show(message, title, options = {}) {
  const { root, instances, config } = readMessage(message);
  const counts = sceneCounts(root);
  const { scene, box, objects } = buildScene(root, instances, config);
  const keepCamera = options.keepCamera ?? 'auto';
  const kept =
    current && (keepCamera === true || (keepCamera === 'auto' && sameExtent(current.box, box)))
      ? current.cameraState()
      : null;
  if (current) current.dispose();
  current = null;
  document.getElementById('tw-error').hidden = true;

  const view = document.getElementById('tw-view');
  const renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setClearColor(BACKGROUND);
  view.replaceChildren(renderer.domElement);

  const world = new THREE.Scene();
  world.add(scene);
  // three.js lights are physical (no factor pi): scale the configured intensities so that a
  // face turned to the light shows about its own colour.
  world.add(new THREE.AmbientLight(0xffffff, 0.6 * Math.PI * (config.ambient_intensity ?? 1)));
  const light = new THREE.DirectionalLight(0xffffff, 0.7 * Math.PI * (config.direct_intensity ?? 1.1));

  const up = new THREE.Vector3(0, 0, 1);
  const perspective = new THREE.PerspectiveCamera(40, 1, 0.001, 1e7);
  const orthographic = new THREE.OrthographicCamera(-1, 1, 1, -1, -1e7, 1e7);
  perspective.up.copy(up);
  orthographic.up.copy(up);
  let camera = config.ortho === false ? perspective : orthographic;
  camera.add(light);
  light.position.set(0.5, 1, 2);
  world.add(camera);
  let controls = new OrbitControls(camera, renderer.domElement);

  const render = () => renderer.render(world, camera);
  const resize = () => {
    const width = view.clientWidth || 800;
    const height = view.clientHeight || 600;
    renderer.setSize(width, height, false);
    perspective.aspect = width / height;
    perspective.updateProjectionMatrix();
    const half = orthographic.userData.half || 1;
    orthographic.left = (-half * width) / height;
    orthographic.right = (half * width) / height;
    orthographic.top = half;
    orthographic.bottom = -half;
    orthographic.updateProjectionMatrix();
    render();
  };

  const fit = () => {
    const bounds = box.isEmpty() ? new THREE.Box3(new THREE.Vector3(-1, -1, 0), new THREE.Vector3(1, 1, 1)) : box.clone();
    bounds.min.z *= scene.scale.z;
    bounds.max.z *= scene.scale.z;
    const center = bounds.getCenter(new THREE.Vector3());
    const radius = Math.max(bounds.getSize(new THREE.Vector3()).length() / 2, 1e-3);
    const direction = new THREE.Vector3(-0.6, -1, 0.8).normalize();
    const distance = radius / Math.sin(THREE.MathUtils.degToRad(perspective.fov / 2));
    for (const c of [perspective, orthographic]) {
      c.position.copy(center).addScaledVector(direction, distance);
      c.lookAt(center);
    }
    perspective.near = distance / 1000;
    perspective.far = distance * 100;
    orthographic.userData.half = radius * 1.05;
    orthographic.zoom = 1;
    controls.target.copy(center);
    controls.update();
    resize();
  };

  controls.addEventListener('change', render);
  window.addEventListener('resize', resize);

  // Logarithmic: chips are millimetres wide and micrometres high, so useful factors span 0.1 to
  // 1000.
  const zScale = element('input', { type: 'range', min: '-1', max: '3', step: '0.01', value: '0' });
  const zValue = element('span', { class: 'tw-value' }, '1');
  zScale.addEventListener('input', () => {
    const factor = 10 ** Number(zScale.value);
    scene.scale.z = factor;
    zValue.textContent = factor < 10 ? factor.toPrecision(2) : factor.toFixed(0);
    render();
  });
  const projection = element('button', { type: 'button' }, camera === orthographic ? 'Perspective' : 'Orthographic');
  projection.addEventListener('click', () => {
    const next = camera === orthographic ? perspective : orthographic;
    next.position.copy(camera.position);
    next.quaternion.copy(camera.quaternion);
    camera.remove(light);
    next.add(light);
    world.remove(camera);
    world.add(next);
    camera = next;
    const target = controls.target.clone();
    controls.dispose();
    controls = new OrbitControls(camera, renderer.domElement);
    controls.target.copy(target);
    controls.addEventListener('change', render);
    controls.update();
    projection.textContent = camera === orthographic ? 'Perspective' : 'Orthographic';
    resize();
  });

  const top = root.parts && root.parts.length === 1 ? root.parts[0].name : null;
  document.getElementById('tw-title').textContent = title || top || root.name || 'scene';
  document.getElementById('tw-counts').textContent =
    `${counts.polygons.toLocaleString()} polygons drawn · ${instances.length.toLocaleString()} ` +
    `distinct · ${counts.placements.toLocaleString()} placements · ${counts.parts.toLocaleString()} parts`;
  document
    .getElementById('tw-controls')
    .replaceChildren(
      element('label', {}, 'z-scale ', zScale, zValue),
      element('button', { type: 'button', onclick: fit }, 'Fit'),
      projection,
    );
  buildTree(document.getElementById('tw-tree'), root, objects, render, config.collapse ?? 3);
  if (kept) {
    if ((camera === orthographic) !== kept.orthographic) projection.click();
    camera.position.copy(kept.position);
    camera.quaternion.copy(kept.quaternion);
    camera.zoom = kept.zoom;
    orthographic.userData.half = kept.half;
    perspective.near = kept.near;
    perspective.far = kept.far;
    controls.target.copy(kept.target);
    controls.update();
    resize();
  } else {
    fit();
  }
  current = {
    box,
    cameraState: () => ({
      orthographic: camera === orthographic,
      position: camera.position.clone(),
      quaternion: camera.quaternion.clone(),
      zoom: camera.zoom,
      half: orthographic.userData.half,
      near: perspective.near,
      far: perspective.far,
      target: controls.target.clone(),
    }),
    dispose: () => {
      window.removeEventListener('resize', resize);
      controls.dispose();
      scene.traverse((object) => {
        if (object.geometry) object.geometry.dispose();
        if (object.isInstancedMesh) object.dispose();
      });
      const materials = new Set();
      scene.traverse((object) => object.material && materials.add(object.material));
      for (const material of materials) material.dispose();
      renderer.dispose();
      renderer.forceContextLoss();
    },
  };
  window.tarnwickViewer = { scene, counts, render, fit, objects };
  setState('ready', {
    twScene: root.name ?? '',
    twPolygons: counts.polygons,
    twDistinct: instances.length,
    twPlacements: counts.placements,
    twParts: counts.parts,
    twMeshes: objects.size - counts.groups,
  });
}

// A short event list in a corner of the page, newest first.
const NOTES_KEPT = 20;
let noteCount = 0;
function note(text) {
  let list = document.getElementById('tw-events');
  if (!list) {
    list = element('ul', { id: 'tw-events', 'aria-live': 'polite' });
    Object.assign(list.style, {
      position: 'fixed',
      right: '12px',
      bottom: '12px',
      maxWidth: '40%',
      margin: '0',
      padding: '6px 10px',
      listStyle: 'none',
      background: '#ffffffd9',
      border: '1px solid #d5dbe0',
      borderRadius: '4px',
      font: '12px/1.4 system-ui, sans-serif',
    });
    document.body.append(list);
  }
  list.prepend(element('li', {}, `${new Date().toLocaleTimeString()} ${text}`));
  while (list.children.length > NOTES_KEPT) list.lastChild.remove();
  noteCount += 1;
  document.body.dataset.twNotes = String(noteCount);
}

// The page's interface for scripts (the live connection among them): show() replaces the scene
// with a depthview message (JSON text or object) and resolves with its counts; note() adds an
// entry to the event list. options.keepCamera: true, false or 'auto' (keep it when the new
// scene's extent is about the same).
window.tarnwick = {
  show(content, options = {}) {
    return new Promise((resolve, reject) => {
      try {
        show(typeof content === 'string' ? JSON.parse(content) : content, options.title, options);
        resolve(window.tarnwickViewer.counts);
      } catch (error) {
        showError(`cannot show the scene: ${error.message}`);
        reject(error);
      }
    });
  },
  note,
};

function start() {
  const style = document.createElement('style');
  style.textContent = STYLE;
  document.head.append(style);
  const embedded = document.getElementById('tarnwick-scene');
  const input = document.getElementById('tw-open');
  if (input) {
    input.addEventListener('change', async () => {
      const file = input.files && input.files[0];
      if (!file) return;
      try {
        show(JSON.parse(await file.text()), file.name);
      } catch (error) {
        showError(`cannot show ${file.name}: ${error.message}`);
      }
    });
  }
  const text = embedded ? embedded.textContent.trim() : '';
  if (!text) {
    document.getElementById('tw-title').textContent = 'Open a depthview JSON file';
    setState('empty', { twScene: '' });
    return;
  }
  try {
    show(JSON.parse(text), document.title);
  } catch (error) {
    showError(`cannot show the scene: ${error.message}`);
    throw error;
  }
}

if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
else start();
