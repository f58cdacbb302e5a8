// Unit tests of reading a message from its text: the pool decoded from the text is the pool the
// parsed records give, whatever the spacing, and anything unusual goes the parsed way.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { readMessageText } from '../src/message.js';
import { decodePool } from '../src/prepare.js';
import { circle, group, message, part, record } from './helpers.mjs';

const POLYGONS = [[0, 0, 3, 0, 3, 1], circle(5, 5, 2, 40), [], [1.5, -2.25, 7, 8, 9, 10.125, 4, 4]];

function build(polygons = POLYGONS) {
  return message(group('Cells', [part('WG (1, 0)', [0, 1, 3], { height: 0.22 })]), polygons, { ortho: false });
}

test('the pool read from the text equals the decoded records, compact, spaced or written by hand', () => {
  const content = build();
  const expected = decodePool(content.data.instances);
  const spaced = JSON.stringify(content).replace(/([,:])(?=["[{0-9-])/g, '$1 ');
  const odd = JSON.stringify(content).replace(/"codec":"b64"/g, '"codec" :  "b64" ');
  for (const text of [JSON.stringify(content), spaced, odd]) {
    const { message: read, pool } = readMessageText(text);
    assert.ok(pool, text.slice(0, 60));
    assert.deepEqual(Array.from(pool.starts), Array.from(expected.starts));
    assert.deepEqual(Array.from(pool.values), Array.from(expected.values));
    assert.deepEqual(read.data.instances, []);
    assert.equal(read.data.parts[0].shape.height, 0.22);
    assert.deepEqual(read.config, { ortho: false });
  }
  assert.equal(readMessageText(JSON.stringify(build([]))).pool.starts.length, 1);
});

test('a pool in another form is left to the parsed records', () => {
  const plain = build();
  plain.data.instances[1] = [0, 0, 1, 0, 1, 1];
  const wide = build();
  wide.data.instances[0] = record([0, 0, 3, 0, 3, 1], 'float64');
  const escaped = JSON.stringify(build()).replace(/\//g, '\\/'); // the same JSON text, escaped
  const badShape = build();
  badShape.data.instances[0].shape = [7];
  const nested = { type: 'data', data: { ...build().data, config: { instances: [] } }, config: {} };
  for (const content of [plain, wide, badShape, nested]) {
    const { message: read, pool } = readMessageText(JSON.stringify(content));
    assert.equal(pool, null);
    assert.deepEqual(read, JSON.parse(JSON.stringify(content)));
  }
  const { message: read, pool } = readMessageText(escaped);
  assert.ok(!pool || pool.values.length === decodePool(build().data.instances).values.length);
  assert.deepEqual(read.data.parts, build().data.parts);
});
