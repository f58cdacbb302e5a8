// A bounding-volume tree over axis-aligned boxes, for frustum culling, level of detail and picking.
//
// Items are ordered along a Z-order (Morton) curve of their centres in x and y, and the tree
// halves that order recursively, so each subtree is one run of the order and nearby items share
// subtrees. Nodes are stored depth first: an inner node's first child is the next node, its
// second child is at `start`; a leaf covers the items order[start .. start + count). Every node's
// items are order[first .. first + total). `radius` of a node is the largest item radius below it
// (set by setRadii): a node whose largest item is below a pixel can be skipped whole.

export const LEAF_SIZE = 8;

// Interleaves the low 16 bits of x and y.
function morton(x, y) {
  let a = x & 0xffff;
  let b = y & 0xffff;
  a = (a | (a << 8)) & 0x00ff00ff;
  a = (a | (a << 4)) & 0x0f0f0f0f;
  a = (a | (a << 2)) & 0x33333333;
  a = (a | (a << 1)) & 0x55555555;
  b = (b | (b << 8)) & 0x00ff00ff;
  b = (b | (b << 4)) & 0x0f0f0f0f;
  b = (b | (b << 2)) & 0x33333333;
  b = (b | (b << 1)) & 0x55555555;
  return (a | (b << 1)) >>> 0;
}

// The item numbers sorted by key, with a radix sort (four passes of eight bits).
function sortByKey(keys) {
  const count = keys.length;
  let order = new Int32Array(count);
  let swap = new Int32Array(count);
  for (let i = 0; i < count; i += 1) order[i] = i;
  const buckets = new Int32Array(256);
  for (let shift = 0; shift < 32; shift += 8) {
    buckets.fill(0);
    for (let i = 0; i < count; i += 1) buckets[(keys[order[i]] >>> shift) & 255] += 1;
    let sum = 0;
    for (let b = 0; b < 256; b += 1) {
      const n = buckets[b];
      buckets[b] = sum;
      sum += n;
    }
    for (let i = 0; i < count; i += 1) swap[buckets[(keys[order[i]] >>> shift) & 255]++] = order[i];
    [order, swap] = [swap, order];
  }
  return order;
}

// boxes: six floats per item (minX, minY, minZ, maxX, maxY, maxZ).
export function buildBvh(boxes, count) {
  let minX = Infinity;
  let minY = Infinity;
  let maxX = -Infinity;
  let maxY = -Infinity;
  for (let i = 0; i < count; i += 1) {
    const cx = boxes[6 * i] + boxes[6 * i + 3];
    const cy = boxes[6 * i + 1] + boxes[6 * i + 4];
    if (cx < minX) minX = cx;
    if (cx > maxX) maxX = cx;
    if (cy < minY) minY = cy;
    if (cy > maxY) maxY = cy;
  }
  const scaleX = maxX > minX ? 65535 / (maxX - minX) : 0;
  const scaleY = maxY > minY ? 65535 / (maxY - minY) : 0;
  const keys = new Uint32Array(count);
  for (let i = 0; i < count; i += 1) {
    const cx = boxes[6 * i] + boxes[6 * i + 3];
    const cy = boxes[6 * i + 1] + boxes[6 * i + 4];
    keys[i] = morton(Math.round((cx - minX) * scaleX), Math.round((cy - minY) * scaleY));
  }
  const order = sortByKey(keys);

  // Splits leave more than LEAF_SIZE / 2 items per leaf, so there are at most count / 4 + 1 leaves.
  const capacity = 2 * (Math.ceil(count / (LEAF_SIZE / 2)) + 1);
  const start = new Int32Array(capacity);
  const size = new Int32Array(capacity);
  const first = new Int32Array(capacity);
  const total = new Int32Array(capacity);
  let nodes = 0;
  // Tasks: first item, item count, and the parent whose second child this is (or -1).
  let stack = new Int32Array(3 * 64);
  let top = 0;
  stack[top++] = 0;
  stack[top++] = count;
  stack[top++] = -1;
  while (top > 0) {
    const parent = stack[--top];
    const n = stack[--top];
    const from = stack[--top];
    const node = nodes;
    nodes += 1;
    if (parent >= 0) start[parent] = node;
    first[node] = from;
    total[node] = n;
    if (n <= LEAF_SIZE) {
      start[node] = from;
      size[node] = n;
      continue;
    }
    const half = n >> 1;
    if (top + 6 > stack.length) {
      const grown = new Int32Array(2 * stack.length);
      grown.set(stack);
      stack = grown;
    }
    // The second half first, so that the first half is built next and becomes node + 1.
    stack[top++] = from + half;
    stack[top++] = n - half;
    stack[top++] = node;
    stack[top++] = from;
    stack[top++] = half;
    stack[top++] = -1;
  }
  // Boxes bottom up: children come after their parent, so a backward sweep sees them first.
  const box = new Float32Array(6 * nodes);
  for (let node = nodes - 1; node >= 0; node -= 1) {
    const b = 6 * node;
    if (size[node] > 0) {
      box.fill(Infinity, b, b + 3);
      box.fill(-Infinity, b + 3, b + 6);
      for (let k = start[node]; k < start[node] + size[node]; k += 1) {
        const item = 6 * order[k];
        for (let axis = 0; axis < 3; axis += 1) {
          if (boxes[item + axis] < box[b + axis]) box[b + axis] = boxes[item + axis];
          if (boxes[item + 3 + axis] > box[b + 3 + axis]) box[b + 3 + axis] = boxes[item + 3 + axis];
        }
      }
    } else {
      const l = 6 * (node + 1);
      const r = 6 * start[node];
      for (let axis = 0; axis < 3; axis += 1) {
        box[b + axis] = Math.min(box[l + axis], box[r + axis]);
        box[b + 3 + axis] = Math.max(box[l + 3 + axis], box[r + 3 + axis]);
      }
    }
  }
  const radius = new Float32Array(nodes);
  const tree = {
    box,
    start: start.slice(0, nodes),
    count: size.slice(0, nodes),
    first: first.slice(0, nodes),
    total: total.slice(0, nodes),
    radius,
  };
  return {
    order,
    nodes: tree,
    // itemRadii in tree order (item k of the tree is order[k] of the input).
    setRadii(itemRadii) {
      for (let node = nodes - 1; node >= 0; node -= 1) {
        let largest = 0;
        if (tree.count[node] > 0) {
          for (let k = tree.start[node]; k < tree.start[node] + tree.count[node]; k += 1) {
            largest = Math.max(largest, itemRadii[k]);
          }
        } else {
          largest = Math.max(radius[node + 1], radius[tree.start[node]]);
        }
        radius[node] = largest;
      }
    },
  };
}
