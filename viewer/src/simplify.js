// The rough version of a ring, for polygons that are only a few pixels wide on screen: the subset
// of its points that Douglas-Peucker keeps at a tolerance of ROUGH_SHARE of the polygon's size, so
// the rough outline stays within half a pixel of the true one while the polygon is smaller than
// ROUGH_SHARE / 2 ... pixels (see planner.js). A ring of a 128-point circle keeps five or six.
// The result is deterministic: prepare.js counts the points, triangulate.js uses them.

export const ROUGH_SHARE = 1 / 16;
// Rings this short are kept whole.
export const ROUGH_MIN_POINTS = 8;

let ring = new Float64Array(256);
let stack = new Int32Array(256);

// Marks in keep[0 .. n) the points of the ring entries[first .. first + n) that the rough ring keeps,
// and returns how many (at least three).
export function roughRing(entries, first, n, size, keep) {
  if (n <= ROUGH_MIN_POINTS) {
    keep.fill(1, 0, n);
    return n;
  }
  keep.fill(0, 0, n);
  const tolerance2 = (size * ROUGH_SHARE) ** 2;
  // The ring's points, the first one repeated at position n.
  if (ring.length < 2 * (n + 1)) ring = new Float64Array(4 * (n + 1));
  for (let i = 0; i < 2 * n; i += 1) ring[i] = entries[2 * first + i];
  ring[2 * n] = ring[0];
  ring[2 * n + 1] = ring[1];
  // Anchors: the first point and the point farthest from it.
  let far = 1;
  let best = -1;
  for (let i = 1; i < n; i += 1) {
    const dx = ring[2 * i] - ring[0];
    const dy = ring[2 * i + 1] - ring[1];
    const d = dx * dx + dy * dy;
    if (d > best) {
      best = d;
      far = i;
    }
  }
  keep[0] = 1;
  keep[far] = 1;
  let count = 2;
  // Segments [a, b] of ring positions still to split.
  if (stack.length < 4 * n) stack = new Int32Array(8 * n);
  let top = 0;
  stack[top++] = 0;
  stack[top++] = far;
  stack[top++] = far;
  stack[top++] = n;
  while (top > 0) {
    const b = stack[--top];
    const a = stack[--top];
    const at = farthest(a, b, a + 1, b);
    if (at >= 0 && lastDistance2 > tolerance2) {
      keep[at] = 1;
      count += 1;
      stack[top++] = a;
      stack[top++] = at;
      stack[top++] = at;
      stack[top++] = b;
    }
  }
  if (count < 3) {
    // A ring flatter than the tolerance keeps the point farthest from its long axis.
    const upper = farthest(0, far, 1, far);
    const upperDistance = lastDistance2;
    const lower = farthest(0, far, far + 1, n);
    keep[lower >= 0 && (upper < 0 || lastDistance2 > upperDistance) ? lower : upper] = 1;
    count += 1;
  }
  return count;
}

let lastDistance2 = 0;

// The ring position in [from, to) farthest from the line through positions a and b (its squared
// distance in lastDistance2), or -1 when the range is empty.
function farthest(a, b, from, to) {
  const ax = ring[2 * a];
  const ay = ring[2 * a + 1];
  const dx = ring[2 * b] - ax;
  const dy = ring[2 * b + 1] - ay;
  const length2 = dx * dx + dy * dy;
  let worst = -1;
  let at = -1;
  for (let i = from; i < to; i += 1) {
    const px = ring[2 * i] - ax;
    const py = ring[2 * i + 1] - ay;
    let d;
    if (length2 === 0) {
      d = px * px + py * py;
    } else {
      const cross = px * dy - py * dx;
      d = (cross * cross) / length2;
    }
    if (d > worst) {
      worst = d;
      at = i;
    }
  }
  lastDistance2 = worst;
  return at;
}
