// Unit tests of the part tree's data (PartIndex) and of the configuration the page honours.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { parseColor, readConfig } from '../src/config.js';
import { PartIndex } from '../src/parts.js';
import { prepareScene } from '../src/prepare.js';
import { group, message, part } from './helpers.mjs';

// A scene grouped by layer, layers listed lowest first: WG, then M2, then HEATER.
function byLayer() {
  const triangle = [[0, 0, 1, 0, 0, 1]];
  const layer = (name, zmin, height, color) =>
    group(name, [group('top', [part('components', [0], { zmin, height, color }), group('child', [part('components', [0], { zmin, height, color, matrices: [1, 0, 5, 0, 1, 0] })])])]);
  const root = group('Layers', [
    layer('WG (1, 0)', 0, 0.22, '#ff0000'),
    layer('M2 (45, 0)', 3, 0.8, '#00ff00'),
    layer('HEATER (47, 0)', 1.1, 0.75, '#0000ff'),
  ]);
  return prepareScene(message(root, triangle)).scene;
}

test('leaf ranges, layers, layer names and cell paths of a scene grouped by layer', () => {
  const scene = byLayer();
  const index = new PartIndex(scene.tree, scene.leafLayer, scene.layers);
  const { names } = scene.tree;
  const node = (name) => names.indexOf(name);
  assert.equal(index.leafEnd[0] - index.leafStart[0], 6);
  assert.equal(index.leafEnd[node('WG (1, 0)')] - index.leafStart[node('WG (1, 0)')], 2);
  assert.equal(index.layer[0], -1, 'the root spans several layers');
  assert.ok(index.layer[node('M2 (45, 0)')] >= 0);
  assert.ok(index.isLayerRow(node('M2 (45, 0)')));
  assert.ok(!index.isLayerRow(node('top')));
  for (let leaf = 0; leaf < 6; leaf += 1) {
    assert.ok(['WG (1, 0)', 'M2 (45, 0)', 'HEATER (47, 0)'].includes(index.layerName(leaf)));
  }
  assert.deepEqual(index.cellPath(1), ['top', 'child']);
  assert.deepEqual(index.cellPath(0), ['top']);
  const counts = index.visibleCounts(Uint8Array.from([1, 0, 1, 1, 0, 0]));
  assert.equal(counts(0), 3);
  assert.equal(counts(node('WG (1, 0)')), 1);
});

test('layer rows come in height order, highest first; search finds names', () => {
  const scene = byLayer();
  const index = new PartIndex(scene.tree, scene.leafLayer, scene.layers);
  const order = Array.from(index.childrenOf(0), (n) => scene.tree.names[n]);
  assert.deepEqual(order, ['M2 (45, 0)', 'HEATER (47, 0)', 'WG (1, 0)']);
  const found = index.search('CHILD').map((n) => scene.tree.names[n]);
  assert.deepEqual(found, ['child', 'child', 'child']);
  assert.deepEqual(index.search('  '), []);
});

test('the configuration: defaults, transparency only when asked, grids and up axis', () => {
  const defaults = readConfig({});
  assert.deepEqual(
    [defaults.ortho, defaults.opacity, defaults.edges, defaults.axes, defaults.axesAtOrigin, defaults.grid, defaults.up],
    [true, 1, true, false, true, [false, false, false], 'Z'],
  );
  assert.equal(readConfig({ default_opacity: 0.5 }).opacity, 1, 'opaque unless transparent');
  assert.equal(readConfig({ default_opacity: 0.5, transparent: true }).opacity, 0.5);
  const other = readConfig({ ortho: false, render_edges: false, axes: true, axes0: false, grid: [true, false, true], up: 'y' });
  assert.deepEqual([other.ortho, other.edges, other.axes, other.axesAtOrigin, other.grid, other.up], [false, false, true, false, [true, false, true], 'Y']);
  const mouse = readConfig({ rotate_speed: 2, zoom_speed: 0, pan_speed: 'fast', black_edges: true });
  assert.deepEqual([mouse.rotateSpeed, mouse.zoomSpeed, mouse.panSpeed, mouse.edgeColor], [2, 1, 1, '#000000']);
  assert.deepEqual(parseColor('#ff8000'), [1, 128 / 255, 0]);
  assert.deepEqual(parseColor('#f00'), [1, 0, 0]);
  assert.deepEqual(parseColor('Violet'), [238 / 255, 130 / 255, 238 / 255]);
  assert.equal(parseColor('no colour'), null);
});
