// A bounding-volume tree over axis-aligned boxes, for frustum culling, level of detail and picking.
//
// Nodes are stored depth first: an inner node's first child is the next node, its second child is
// at `start`; a leaf covers the items order[start .. start + count). Items are split at the median
// of their centres along the longest axis of the centres' spread, so the tree is balanced.
// `radius` of a node is the largest item radius below it (set by setRadii): a node whose largest
// item is below a pixel can be skipped whole.

export const LEAF_SIZE = 8;

// boxes: six floats per item (minX, minY, minZ, maxX, maxY, maxZ).
export function buildBvh(boxes, count) {
  const order = new Int32Array(count);
  for (let i = 0; i < count; i += 1) order[i] = i;
  const centres = new Float32Array(3 * count);
  for (let i = 0; i < count; i += 1) {
    for (let axis = 0; axis < 3; axis += 1) {
      centres[3 * i + axis] = (boxes[6 * i + axis] + boxes[6 * i + 3 + axis]) / 2;
    }
  }
  // Splits leave at least LEAF_SIZE / 2 items per leaf, so there are at most count / 4 + 1 leaves.
  const capacity = 2 * (Math.ceil(count / (LEAF_SIZE / 2)) + 1);
  const box = new Float32Array(6 * capacity);
  const start = new Int32Array(capacity);
  const size = new Int32Array(capacity);
  let nodes = 0;
  // Tasks: [first item, item count, parent node whose second child this is, or -1].
  const stack = [[0, count, -1]];
  while (stack.length) {
    const [first, n, parent] = stack.pop();
    const node = nodes;
    nodes += 1;
    if (parent >= 0) start[parent] = node;
    let minX = Infinity;
    let minY = Infinity;
    let minZ = Infinity;
    let maxX = -Infinity;
    let maxY = -Infinity;
    let maxZ = -Infinity;
    for (let k = first; k < first + n; k += 1) {
      const b = 6 * order[k];
      if (boxes[b] < minX) minX = boxes[b];
      if (boxes[b + 1] < minY) minY = boxes[b + 1];
      if (boxes[b + 2] < minZ) minZ = boxes[b + 2];
      if (boxes[b + 3] > maxX) maxX = boxes[b + 3];
      if (boxes[b + 4] > maxY) maxY = boxes[b + 4];
      if (boxes[b + 5] > maxZ) maxZ = boxes[b + 5];
    }
    box.set([minX, minY, minZ, maxX, maxY, maxZ], 6 * node);
    if (n <= LEAF_SIZE) {
      start[node] = first;
      size[node] = n;
      continue;
    }
    const spread = [Infinity, Infinity, Infinity, -Infinity, -Infinity, -Infinity];
    for (let k = first; k < first + n; k += 1) {
      for (let axis = 0; axis < 3; axis += 1) {
        const value = centres[3 * order[k] + axis];
        if (value < spread[axis]) spread[axis] = value;
        if (value > spread[3 + axis]) spread[3 + axis] = value;
      }
    }
    let axis = 0;
    for (let a = 1; a < 3; a += 1) {
      if (spread[3 + a] - spread[a] > spread[3 + axis] - spread[axis]) axis = a;
    }
    const half = n >> 1;
    select(order, centres, axis, first, first + n - 1, first + half);
    size[node] = 0;
    stack.push([first + half, n - half, node]);
    stack.push([first, half, -1]);
  }
  const radius = new Float32Array(nodes);
  const tree = {
    box: box.slice(0, 6 * nodes),
    start: start.slice(0, nodes),
    count: size.slice(0, nodes),
    radius,
  };
  return {
    order,
    nodes: tree,
    // itemRadii in tree order (item k of the tree is order[k] of the input).
    setRadii(itemRadii) {
      // Children come after their parent, so a backward sweep sees children first.
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

// Reorders order[left..right] so that order[nth] holds the item whose centre along `axis` would be
// there if sorted, with smaller ones before it and larger ones after (Hoare's selection).
function select(order, centres, axis, left, right, nth) {
  while (right > left) {
    const pivot = centres[3 * order[(left + right) >> 1] + axis];
    let i = left;
    let j = right;
    while (i <= j) {
      while (centres[3 * order[i] + axis] < pivot) i += 1;
      while (centres[3 * order[j] + axis] > pivot) j -= 1;
      if (i <= j) {
        const t = order[i];
        order[i] = order[j];
        order[j] = t;
        i += 1;
        j -= 1;
      }
    }
    if (nth <= j) right = j;
    else if (nth >= i) left = i;
    else return;
  }
}
