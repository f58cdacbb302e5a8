// Unit tests of buffer decoding and the scene helpers (node --test).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { base64Length, decodeBase64Into } from '../src/base64.js';
import { decodeBuffer, locTransform, multiplyAffine, readMessage, sceneCounts } from '../src/scene.js';
import { group, message, part, record } from './helpers.mjs';

test('decodes base64 like the platform does, every padding, and refuses bad text', () => {
  for (const length of [0, 1, 2, 3, 4, 5, 31]) {
    const bytes = Uint8Array.from({ length }, (_, i) => (i * 37 + 11) & 255);
    const text = Buffer.from(bytes).toString('base64');
    const out = new Uint8Array(base64Length(text) + 2);
    assert.equal(decodeBase64Into(text, out, 2), length);
    assert.deepEqual(Array.from(out.subarray(2)), Array.from(bytes));
  }
  assert.throws(() => decodeBase64Into('AB*D', new Uint8Array(3)), /invalid base64/);
  assert.throws(() => base64Length('ABC'), /not padded/);
});

test('decodes buffer records: the documented example, other dtypes, plain arrays', () => {
  const values = decodeBuffer({ shape: [2], dtype: 'float32', buffer: 'AACAPwAAAEA=', codec: 'b64' });
  assert.ok(values instanceof Float32Array);
  assert.deepEqual(Array.from(values), [1, 2]);
  assert.equal(decodeBuffer({ shape: [0], dtype: 'float32', buffer: '', codec: 'b64' }).length, 0);
  assert.deepEqual(Array.from(decodeBuffer(record([1.5, -2], 'float64'))), [1.5, -2]);
  assert.deepEqual(Array.from(decodeBuffer(record([7, -8], 'int32'))), [7, -8]);
  assert.deepEqual(Array.from(decodeBuffer([0, 0.5])), [0, 0.5]);
  const int64 = { shape: [1], dtype: 'int64', buffer: Buffer.from(BigInt64Array.from([-5n]).buffer).toString('base64'), codec: 'b64' };
  assert.deepEqual(Array.from(decodeBuffer(int64)), [-5]);
});

test('refuses records whose length disagrees with their shape, partial values and unknown codecs', () => {
  assert.throws(() => decodeBuffer({ ...record([1, 2]), shape: [3] }), /shape says 3/);
  assert.throws(() => decodeBuffer({ ...record([1]), codec: 'zip' }), /codec zip/);
  assert.throws(() => decodeBuffer({ shape: [1], dtype: 'float32', buffer: 'AAA=', codec: 'b64' }), /whole float32/);
  assert.throws(() => decodeBuffer({ ...record([1]), dtype: 'complex' }), /dtype complex/);
});

test('placements of nodes: rotations about z compose with placements, tilts are refused', () => {
  const quarter = locTransform([[10, 0, 2], [0, 0, Math.SQRT1_2, Math.SQRT1_2]]);
  assert.equal(quarter.z, 2);
  const [a, b, tx, d, e, ty] = quarter.m;
  assert.deepEqual([a, b, d, e].map((v) => Math.round(v * 1e12) / 1e12), [0, -1, 1, 0]);
  assert.deepEqual([tx, ty], [10, 0]);
  // (1, 0) rotated a quarter turn, then moved by 10 in x: (10, 1).
  const placed = multiplyAffine(quarter.m, [1, 0, 1, 0, 1, 0]);
  assert.ok(Math.abs(placed[2] - 10) < 1e-12 && Math.abs(placed[5] - 1) < 1e-12);
  assert.throws(() => locTransform([[0, 0, 0], [0.7071, 0, 0, 0.7071]]), /rotated out of the layout plane/);
  assert.deepEqual(locTransform(undefined).m, [1, -0, 0, 0, 1, 0]);
});

test('reads a message and counts what it draws', () => {
  const root = group('Cells', [
    group('top', [
      part('WG', [0, 1]),
      group('child', [part('WG', [1], { matrices: [1, 0, 5, 0, 1, 0, 1, 0, 9, 0, 1, 0] })]),
    ]),
  ]);
  const content = message(root, [[0, 0, 1, 0, 1, 1], [0, 0, 1, 0, 0, 1]], { ortho: true });
  const { root: read, records, config } = readMessage(content);
  assert.equal(read.name, 'Cells');
  assert.equal(records.length, 2);
  assert.equal(config.ortho, true);
  assert.deepEqual(sceneCounts(read), { parts: 2, groups: 3, polygons: 4, placements: 2 });
  assert.throws(() => readMessage({ type: 'data', data: [] }), /no scene data/);
});
