// Unit tests of the page's scene module (node --test).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import {
  applyPlacement,
  decodeBuffer,
  extrude,
  placementMatrices,
  readMessage,
  sceneCounts,
  shapeBounds,
  signedArea2,
} from '../src/scene.js';

const record = (values, dtype = 'float32') => {
  const Typed = { float32: Float32Array, float64: Float64Array, int32: Int32Array }[dtype];
  const array = Typed.from(values);
  return {
    shape: [array.length],
    dtype,
    buffer: Buffer.from(array.buffer).toString('base64'),
    codec: 'b64',
  };
};

test('decodes the documented float32 buffer', () => {
  const values = decodeBuffer({ shape: [2], dtype: 'float32', buffer: 'AACAPwAAAEA=', codec: 'b64' });
  assert.deepEqual(Array.from(values), [1, 2]);
  assert.ok(values instanceof Float32Array);
});

test('decodes empty buffers, other dtypes and plain arrays', () => {
  assert.equal(decodeBuffer({ shape: [0], dtype: 'float32', buffer: '', codec: 'b64' }).length, 0);
  assert.deepEqual(Array.from(decodeBuffer(record([1.5, -2], 'float64'))), [1.5, -2]);
  assert.deepEqual(Array.from(decodeBuffer(record([7, -8], 'int32'))), [7, -8]);
  assert.deepEqual(Array.from(decodeBuffer([0, 0.5])), [0, 0.5]);
});

test('refuses a buffer whose length disagrees with its shape, and unknown codecs', () => {
  assert.throws(() => decodeBuffer({ ...record([1, 2]), shape: [3] }), /shape says 3/);
  assert.throws(() => decodeBuffer({ ...record([1]), codec: 'zip' }), /codec/);
});

test('extrudes a square into a closed box with outward faces', () => {
  const square = Float32Array.from([0, 0, 2, 0, 2, 1, 0, 1]);
  const { positions, indices, bounds, vertexCount } = extrude([square], [0], 0.5);
  assert.equal(vertexCount, 8);
  assert.equal(indices.length, 3 * (2 * 2 + 2 * 4));
  assert.deepEqual(bounds, { minX: 0, minY: 0, maxX: 2, maxY: 1 });
  // Divergence theorem: the signed volume of a closed, outward-oriented mesh is its volume.
  let volume = 0;
  const p = (i) => [positions[3 * i], positions[3 * i + 1], positions[3 * i + 2]];
  for (let t = 0; t < indices.length; t += 3) {
    const [a, b, c] = [p(indices[t]), p(indices[t + 1]), p(indices[t + 2])];
    volume +=
      (a[0] * (b[1] * c[2] - b[2] * c[1]) -
        a[1] * (b[0] * c[2] - b[2] * c[0]) +
        a[2] * (b[0] * c[1] - b[1] * c[0])) /
      6;
  }
  assert.ok(Math.abs(volume - 2 * 1 * 0.5) < 1e-6, `volume ${volume}`);
});

test('clockwise, concave and closed-ring polygons give the right volume too', () => {
  const lShapeClockwise = Float32Array.from([0, 0, 0, 3, 1, 3, 1, 1, 3, 1, 3, 0]);
  const closedTriangle = Float32Array.from([0, 0, 4, 0, 0, 2, 0, 0]);
  for (const [polygon, area] of [
    [lShapeClockwise, 5],
    [closedTriangle, 4],
  ]) {
    const { positions, indices } = extrude([polygon], [0], 2);
    let volume = 0;
    for (let t = 0; t < indices.length; t += 3) {
      const [a, b, c] = [0, 1, 2].map((k) => Array.from(positions.subarray(3 * indices[t + k], 3 * indices[t + k] + 3)));
      volume +=
        (a[0] * (b[1] * c[2] - b[2] * c[1]) -
          a[1] * (b[0] * c[2] - b[2] * c[0]) +
          a[2] * (b[0] * c[1] - b[1] * c[0])) /
        6;
    }
    assert.ok(Math.abs(volume - area * 2) < 1e-5, `volume ${volume}, expected ${area * 2}`);
  }
  assert.ok(signedArea2(lShapeClockwise, 6) < 0);
});

test('skips degenerate polygons and merges several into one mesh', () => {
  const line = Float32Array.from([0, 0, 1, 1]);
  const tri = Float32Array.from([0, 0, 1, 0, 0, 1]);
  const { vertexCount, indices } = extrude([line, tri], [0, 1, 1], 1);
  assert.equal(vertexCount, 12);
  assert.equal(indices.length, 2 * 3 * (2 * 1 + 2 * 3));
});

test('placement matrices map points like the 2x3 matrix rows (a, b, tx, d, e, ty)', () => {
  // A 90 degree rotation with a mirror and a displacement.
  const values = Float32Array.from([0, 1, 10, 1, 0, -5, 1, 0, 0, 0, 1, 0]);
  const m = placementMatrices(values);
  assert.equal(m.length, 32);
  const x = 2;
  const y = 3;
  // Column-major 4x4: x' = m0 x + m4 y + m12.
  assert.deepEqual([m[0] * x + m[4] * y + m[12], m[1] * x + m[5] * y + m[13]], applyPlacement(values, 0, x, y));
  assert.deepEqual(applyPlacement(values, 0, x, y), [13, -3]);
  assert.equal(m[10], 1);
  assert.equal(m[15], 1);
  assert.deepEqual(Array.from(m.subarray(16)), [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1]);
});

test('shape bounds cover every placement', () => {
  const bounds = { minX: 0, minY: 0, maxX: 1, maxY: 1 };
  const out = shapeBounds(bounds, Float32Array.from([1, 0, 100, 0, 1, 0, -1, 0, 0, 0, -1, 0]), 2, 0.5);
  assert.deepEqual(out, { min: [-1, -1, 2], max: [101, 1, 2.5] });
});

test('reads a message and counts what it draws', () => {
  const message = {
    type: 'data',
    data: {
      name: 'Cells',
      id: '/Cells',
      parts: [
        {
          name: 'top',
          id: '/Cells/top',
          parts: [
            { name: 'WG', id: '/Cells/top/WG', shape: { refs: [0, 1], height: 1, matrices: record([]) }, color: '#f00' },
            {
              name: 'child',
              id: '/Cells/top/child',
              parts: [
                {
                  name: 'WG',
                  id: '/Cells/top/child/WG',
                  shape: { refs: [1], height: 1, matrices: record([1, 0, 5, 0, 1, 0, 1, 0, 9, 0, 1, 0]) },
                  color: '#f00',
                },
              ],
            },
          ],
        },
      ],
      instances: [record([0, 0, 1, 0, 1, 1]), record([0, 0, 1, 0, 0, 1])],
    },
    config: { ortho: true },
  };
  const { root, instances, config } = readMessage(message);
  assert.equal(root.name, 'Cells');
  assert.equal(instances.length, 2);
  assert.equal(config.ortho, true);
  assert.deepEqual(sceneCounts(root), { parts: 2, groups: 3, polygons: 4, placements: 2 });
});
