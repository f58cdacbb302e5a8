// Unit tests of the drawable layout: rings, geometries, layers, instances and caps.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { INSTANCE_FLOATS, RING_EXTRA, SENTINEL, prepareScene } from '../src/prepare.js';
import { triangulatePolygons } from '../src/triangulate.js';
import { circle, group, message, part, ringArea2, triangleArea2 } from './helpers.mjs';

const cos30 = Math.cos(Math.PI / 6);
const sin30 = Math.sin(Math.PI / 6);

// Polygons: a clockwise L (area 5), a triangle written with its closing point (area 2), a
// 128-point circle of radius 10, a segment (skipped).
const POLYGONS = [
  [0, 0, 0, 3, 1, 3, 1, 1, 3, 1, 3, 0],
  [0, 0, 2, 0, 0, 2, 0, 0],
  circle(0, 0, 10, 128),
  [0, 0, 1, 1],
];

function scene() {
  const root = group('Cells', [
    group('top', [
      part('WG (1, 0)', [0, 1, 3], { height: 0.22, color: '#ff6e6e' }),
      group('child', [
        // Rotated by 30 degrees and magnified by 2, at (100, 50); then mirrored in x, at (-40, 0).
        part('WG (1, 0)', [2], {
          height: 0.22,
          color: '#ff6e6e',
          matrices: [2 * cos30, -2 * sin30, 100, 2 * sin30, 2 * cos30, 50, 1, 0, -40, 0, -1, 0],
        }),
      ]),
      part('M1 (41, 0)', [0, 1, 3], { height: 0.5, zmin: 1.9, color: '#5a8cff' }),
    ]),
  ]);
  return prepareScene(message(root, POLYGONS)).scene;
}

test('rings are stored counter-clockwise, largest first, each closed and followed by a sentinel', () => {
  const { geometry } = scene();
  const { entries, geometryPolygons, polygonEntries, polygonInfo } = geometry;
  assert.equal(geometry.geometryCount, 2, 'the two leaves with refs [0, 1, 3] share one geometry');
  assert.equal(geometry.polygonCount, 3, 'the segment is skipped');
  const first = geometryPolygons[0];
  assert.deepEqual([polygonInfo[4 * first + 2], polygonInfo[4 * first + 6]], [3, 2], 'L before triangle');
  for (let p = 0; p < geometry.polygonCount; p += 1) {
    const start = polygonEntries[p];
    const n = polygonEntries[p + 1] - start - RING_EXTRA;
    assert.ok(ringArea2(entries, start, n) > 0, `polygon ${p} is counter-clockwise`);
    assert.deepEqual([entries[2 * (start + n)], entries[2 * (start + n) + 1]], [entries[2 * start], entries[2 * start + 1]]);
    assert.ok(entries[2 * (start + n + 1)] > SENTINEL / 2, 'sentinel');
  }
  assert.deepEqual(
    [0, 1, 2].map((p) => polygonEntries[p + 1] - polygonEntries[p] - RING_EXTRA).sort((a, b) => a - b),
    [3, 6, 128],
  );
});

test('caps cover each polygon exactly, counter-clockwise; rough caps stay close and are few', () => {
  const { geometry } = scene();
  const { polygonCaps, polygonRough, entries, polygonEntries } = geometry;
  const full = new Uint32Array(polygonCaps[geometry.polygonCount]);
  const rough = new Uint32Array(polygonRough[geometry.polygonCount] - polygonRough[0]);
  triangulatePolygons(geometry, 0, geometry.polygonCount, full, rough);
  for (let p = 0; p < geometry.polygonCount; p += 1) {
    const start = polygonEntries[p];
    const n = polygonEntries[p + 1] - start - RING_EXTRA;
    const area = ringArea2(entries, start, n);
    let covered = 0;
    for (let k = polygonCaps[p]; k < polygonCaps[p + 1]; k += 3) {
      const twice = triangleArea2(entries, full[k], full[k + 1], full[k + 2]);
      assert.ok(twice >= 0, 'counter-clockwise seen from above');
      assert.ok(full[k] >= start && full[k] < start + n, 'indices stay within the ring');
      covered += twice;
    }
    assert.ok(Math.abs(covered - area) < 1e-4 * area, `polygon ${p}: caps ${covered} of ${area}`);
    let roughArea = 0;
    const roughStart = polygonRough[p] - polygonRough[0];
    const roughEnd = polygonRough[p + 1] - polygonRough[0];
    for (let k = roughStart; k < roughEnd; k += 3) roughArea += triangleArea2(entries, rough[k], rough[k + 1], rough[k + 2]);
    assert.ok(Math.abs(roughArea - area) < 0.25 * area, `polygon ${p}: rough area ${roughArea} of ${area}`);
    if (n === 128) assert.ok(roughEnd - roughStart <= 3 * 8, 'the circle keeps a handful of points');
  }
});

test('instances carry the full placement matrix: rotation, magnification and mirror', () => {
  const { instances, leafLayer, layers } = scene();
  const { records, count, center } = instances;
  assert.equal(count, 4, 'two own shapes and the child placed twice');
  const child = [];
  for (let slot = 0; slot < count; slot += 1) {
    const o = INSTANCE_FLOATS * slot;
    if (records[o + 7] === 1) child.push(Array.from(records.subarray(o, o + 16)));
  }
  child.sort((a, b) => a[13] - b[13]);
  const [rotated, mirrored] = child;
  const close = (a, b) => Math.abs(a - b) < 1e-4;
  assert.ok(close(rotated[0], 2 * cos30) && close(rotated[1], -2 * sin30) && close(rotated[3], 2 * sin30));
  assert.ok(close(rotated[2] + center[0], 100) && close(rotated[5] + center[1], 50));
  assert.ok(close(rotated[14], 2), 'scale is the square root of |det|');
  assert.equal(rotated[13], 0);
  assert.equal(mirrored[13], 1, 'a negative determinant marks a mirror');
  assert.ok(close(mirrored[2] + center[0], -40));
  // World box of the circle's 40 x 40 box turned by 30 degrees, around (100, 50).
  assert.ok(close(rotated[8] + center[0], 100) && close(rotated[9] + center[1], 50));
  const half = 20 * (cos30 + sin30);
  assert.ok(Math.abs(rotated[10] - Math.hypot(half, half)) < 0.01, `radius ${rotated[10]}`);
  assert.equal(layers.length, 2);
  assert.deepEqual(Array.from(leafLayer), [0, 0, 1]);
});

test('the scene centre keeps float32 precision far from the origin', () => {
  const root = group('Cells', [part('WG', [0], { matrices: [1, 0, 50000.5, 0, 1, 50000.25] })]);
  const { instances } = prepareScene(message(root, [[0, 0, 1, 0, 1, 1]])).scene;
  assert.deepEqual(instances.center, [50001, 50000.75]);
  assert.deepEqual(Array.from(instances.records.subarray(2, 6)), [-0.5, 0, 1, -0.5]);
});

test('bad input is refused with a clear message', () => {
  const bad = (root, polygons = [[0, 0, 1, 0, 1, 1]]) => () => prepareScene(message(root, polygons));
  assert.throws(bad(group('r', [part('a', [5])])), /refers to polygon 5, the scene has 1/);
  assert.throws(bad(group('r', [part('a', [0], { matrices: [1, 0, 0, 0, 1] })])), /not whole placements/);
  assert.throws(bad(group('r', [part('a', [0])], [[0, 0, 0], [1, 0, 0, 0]])), /rotated out of the layout plane/);
  assert.throws(bad(group('r', [part('a', [0], { matrices: [1, 0, NaN, 0, 1, 0] })])), /not finite/);
});
