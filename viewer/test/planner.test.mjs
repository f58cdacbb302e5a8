// Unit tests of the culling tree, the frame planner and picking, on a grid of placements.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { buildBvh } from '../src/bvh.js';
import { CAPS, DETAIL_RADIUS, DOTS, Planner, WALLS } from '../src/planner.js';
import { pick, placedBox } from '../src/pick.js';
import { INSTANCE_FLOATS, prepareScene } from '../src/prepare.js';
import { group, message, part } from './helpers.mjs';

// A cell with a 4 x 4 square and a 0.1 x 0.1 square, placed on a 20 x 20 grid with pitch 10;
// every other placement is mirrored. The grid spans [0, 194] x [0, 194].
function grid() {
  const matrices = [];
  for (let i = 0; i < 20; i += 1) {
    for (let j = 0; j < 20; j += 1) {
      matrices.push(...((i + j) % 2 ? [1, 0, 10 * i, 0, -1, 10 * j + 4] : [1, 0, 10 * i, 0, 1, 10 * j]));
    }
  }
  const root = group('Cells', [part('cell', [0, 1], { height: 1, matrices })]);
  const squares = [[0, 0, 4, 0, 4, 4, 0, 4], [0, 0, 0.1, 0, 0.1, 0.1, 0, 0.1]];
  return prepareScene(message(root, squares)).scene;
}

// An orthographic top view of the square [x0, x1] x [y0, y1] (layout coordinates) on `pixels`
// pixels, as the planner gets it (coordinates relative to the scene centre).
function topView(scene, [x0, y0, x1, y1], pixels = 500) {
  const [cx, cy] = scene.instances.center;
  return {
    planes: [
      [1, 0, 0, -(x0 - cx)],
      [-1, 0, 0, x1 - cx],
      [0, 1, 0, -(y0 - cy)],
      [0, -1, 0, y1 - cy],
    ],
    eye: [(x0 + x1) / 2 - cx, (y0 + y1) / 2 - cy, 100],
    dir: [0, 0, -1],
    ortho: true,
    pixelA: 0,
    pixelB: (y1 - y0) / pixels,
    zScale: 1,
  };
}

const allReady = (scene) => new Uint8Array(scene.geometry.geometryCount).fill(1);
const allVisible = (scene) => new Uint8Array(scene.leafLayer.length).fill(1);

test('the culling tree holds every item once, inside the boxes of its nodes', () => {
  const boxes = new Float32Array(6 * 1000);
  for (let i = 0; i < 1000; i += 1) {
    const x = (i * 7919) % 1000;
    const y = (i * 104729) % 997;
    boxes.set([x, y, 0, x + (i % 13), y + (i % 7), 1], 6 * i);
  }
  const { order, nodes } = buildBvh(boxes, 1000);
  assert.deepEqual(Array.from(order).sort((a, b) => a - b), Array.from({ length: 1000 }, (_, i) => i));
  const within = (node, item) => [0, 1, 2].every((a) => nodes.box[6 * node + a] <= boxes[6 * item + a] && boxes[6 * item + 3 + a] <= nodes.box[6 * node + 3 + a]);
  const stack = [[0, []]];
  let leaves = 0;
  while (stack.length) {
    const [node, ancestors] = stack.pop();
    const path = [...ancestors, node];
    if (nodes.count[node] > 0) {
      leaves += nodes.count[node];
      for (let k = nodes.start[node]; k < nodes.start[node] + nodes.count[node]; k += 1) {
        for (const a of path) assert.ok(within(a, order[k]), `item ${order[k]} outside node ${a}`);
      }
    } else {
      stack.push([node + 1, path], [nodes.start[node], path]);
    }
  }
  assert.equal(leaves, 1000);
});

test('only placements in view are drawn in detail; placements too small on screen are left to proxies', () => {
  const scene = grid();
  const planner = new Planner(scene);
  const state = { visible: allVisible(scene), ready: allReady(scene) };
  // A 50 x 50 window: the placements whose 4 x 4 squares reach into it.
  const near = planner.plan(topView(scene, [0, 0, 50, 50]), state);
  assert.equal(near.detailed, 36, '6 x 6 placements touch the window');
  assert.ok(near.near <= -1e-6 + 99 && near.far >= 100, `depth range ${near.near} .. ${near.far}`);
  // The whole grid on 20 pixels: each square is a fifth of a pixel.
  const far = planner.plan(topView(scene, [0, 0, 200, 200], 20), state);
  assert.equal(far.detailed, 0);
  assert.equal(far.calls.length, 0);
  assert.ok(far.near <= 99 && far.far >= 100, 'proxies still lie between the planes');
});

test('polygons are drawn by size: caps above a pixel, dots below; mirrored placements apart', () => {
  const scene = grid();
  const planner = new Planner(scene);
  // 0.05 units per pixel: the 4 x 4 square is 80 pixels, the small one 2 pixels.
  let plan = planner.plan(topView(scene, [0, 0, 25, 25]), { visible: allVisible(scene), ready: allReady(scene) });
  const kinds = (p) => p.calls.map((call) => [call.kind, call.mirrored, call.firsts.length]);
  assert.ok(kinds(plan).some(([kind, mirrored]) => kind === CAPS && mirrored === 1));
  assert.ok(kinds(plan).some(([kind, mirrored]) => kind === CAPS && mirrored === 0));
  assert.ok(!kinds(plan).some(([kind]) => kind === DOTS), 'both squares get caps');
  assert.ok(!kinds(plan).some(([kind]) => kind === WALLS), 'walls are edge-on from the top');
  // 0.5 units per pixel: the small square is a fifth of a pixel, a dot.
  plan = planner.plan(topView(scene, [0, 0, 100, 100], 200), { visible: allVisible(scene), ready: allReady(scene) });
  const dots = plan.calls.filter((call) => call.kind === DOTS);
  assert.ok(dots.length > 0 && dots.every((call) => Array.from(call.counts).every((n) => n === 1)));
  // Every placement in the list belongs to the sub-draws that refer to it.
  const listed = plan.calls.filter((call) => call.kind === CAPS).reduce((sum, call) => sum + call.instanceCounts.reduce((a, b) => a + b, 0), 0);
  assert.equal(listed, plan.detailed * 1, 'one caps sub-draw per group (the small square is a dot)');
});

test('every placement in view is drawn once: in detail, as a proxy, or within one aggregate dot', () => {
  const scene = grid();
  const planner = new Planner(scene);
  const { first, total } = scene.instances.bvh;
  const state = { visible: allVisible(scene), ready: allReady(scene) };
  const cover = (plan) => {
    const seen = new Uint8Array(scene.instances.count);
    for (const slot of plan.proxies) seen[slot] += 1;
    for (const node of plan.aggregates) for (let k = first[node]; k < first[node] + total[node]; k += 1) seen[k] += 1;
    for (const slot of plan.list) seen[slot] += 0; // detail: the proxy shader drops these
    return seen;
  };
  // Few dots: no aggregation; many: subtrees become single dots until the dots fit the budget.
  const loose = planner.plan(topView(scene, [-400, -400, 600, 600], 100), { ...state, pointBudget: 10000 });
  assert.equal(loose.aggregates.length, 0);
  assert.ok(cover(loose).every((n) => n === 1));
  const tight = new Planner(scene).plan(topView(scene, [-400, -400, 600, 600], 100), { ...state, pointBudget: 40 });
  assert.ok(tight.aggregates.length > 0 && tight.aggregatePixels > 0);
  assert.ok(tight.proxies.length + tight.aggregates.length <= 40 || tight.aggregatePixels === 16);
  assert.ok(cover(tight).every((n) => n === 1), 'no placement twice, none left out');
  // Hidden parts are never folded into an aggregate dot.
  const hiddenPlanner = new Planner(scene);
  hiddenPlanner.setVisible(new Uint8Array(1));
  const hidden = hiddenPlanner.plan(topView(scene, [-400, -400, 600, 600], 100), { visible: new Uint8Array(1), ready: allReady(scene), pointBudget: 40 });
  assert.equal(hidden.aggregates.length, 0);
});

test('the detail budget keeps the largest placements and raises the proxy threshold to match', () => {
  const grid40 = [];
  for (let i = 0; i < 3; i += 1) grid40.push(1, 0, 100 * i, 0, 1, 300);
  const squares = [[0, 0, 4, 0, 4, 4, 0, 4], [0, 0, 40, 0, 40, 40, 0, 40]];
  const small = [];
  for (let i = 0; i < 400; i += 1) small.push(1, 0, 10 * (i % 20), 0, 1, 10 * Math.floor(i / 20));
  const root = group('Cells', [part('small', [0], { matrices: small }), part('big', [1], { matrices: grid40 })]);
  const scene = prepareScene(message(root, squares)).scene;
  const planner = new Planner(scene);
  const state = { visible: allVisible(scene), ready: allReady(scene) };
  const plan = planner.plan(topView(scene, [0, 0, 350, 350], 2000), { ...state, budget: 25 });
  assert.equal(plan.detailed, 3, 'the three large squares; the 400 equal small ones cannot all fit');
  assert.ok(plan.detailRadius > DETAIL_RADIUS);
  const open = planner.plan(topView(scene, [0, 0, 350, 350], 2000), { ...state, budget: 1000 });
  assert.equal(open.detailed, 403);
  assert.equal(open.detailRadius, DETAIL_RADIUS);
});

test('hidden parts are skipped and geometry without caps yet is requested instead of drawn', () => {
  const scene = grid();
  const planner = new Planner(scene);
  const hidden = planner.plan(topView(scene, [0, 0, 50, 50]), { visible: new Uint8Array(1), ready: allReady(scene) });
  assert.equal(hidden.detailed, 0);
  const waiting = planner.plan(topView(scene, [0, 0, 50, 50]), { visible: allVisible(scene), ready: new Uint8Array(1) });
  assert.deepEqual(waiting.requested, [0]);
  assert.equal(waiting.calls.length, 0);
});

test('picking finds the polygon under a ray, through rotation, magnification and mirror', () => {
  const cos = Math.cos(Math.PI / 6);
  const sin = Math.sin(Math.PI / 6);
  const root = group('Cells', [
    part('a', [0], { height: 2, zmin: 1, matrices: [2 * cos, -2 * sin, 100, 2 * sin, 2 * cos, 0, -1, 0, -50, 0, 1, 0] }),
  ]);
  // A 10 x 1 bar.
  const scene = prepareScene(message(root, [[0, 0, 10, 0, 10, 1, 0, 1]])).scene;
  const [cx, cy] = scene.instances.center;
  const down = (x, y) => ({ origin: [x - cx, y - cy, 50], direction: [0, 0, -1] });
  // Along the rotated bar: 15 units from its start at (100, 0) along 30 degrees, 1 unit across.
  const along = [100 + 15 * cos - 1 * sin, 15 * sin + 1 * cos];
  const hit = pick(scene, down(...along));
  assert.ok(hit, 'the rotated, magnified bar is hit');
  assert.ok(Math.abs(hit.point[2] - 3) < 1e-9, 'on its top at z = 3');
  assert.deepEqual(hit.normal, [0, 0, 1]);
  assert.equal(pick(scene, down(100 + 15 * cos + 3 * sin, 15 * sin - 3 * cos)), null, 'beside it: nothing');
  // The mirrored bar runs from x = -50 to -60.
  assert.ok(pick(scene, down(-55, 0.5)));
  assert.equal(pick(scene, down(-45, 0.5)), null);
  // From the side, at mid height, the ray meets the mirrored bar's wall at x = -50.
  const side = pick(scene, { origin: [-20 - cx, 0.5 - cy, 2], direction: [-1, 0, 0] });
  assert.ok(Math.abs(side.point[0] + cx + 50) < 1e-4, `wall at ${side.point[0] + cx}`);
  assert.ok(Math.abs(side.normal[0] - 1) < 1e-9, 'the wall faces +x');
  assert.equal(pick(scene, down(-55, 0.5), { visible: new Uint8Array(1) }), null, 'hidden parts are not picked');
  const slot = side.slot;
  const { min, max } = placedBox(scene, slot, side.polygon);
  assert.deepEqual([min[0] + cx, max[0] + cx, min[2], max[2]].map((v) => Math.round(v * 1e4) / 1e4), [-60, -50, 1, 3]);
  assert.equal(scene.instances.records[INSTANCE_FLOATS * slot + 13], 1);
});
