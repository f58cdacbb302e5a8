// The rough version of a ring, for polygons that are only a few pixels wide on screen: the subset
// of its points that Douglas-Peucker keeps at a tolerance of ROUGH_SHARE of the polygon's size, so
// the rough outline stays within half a pixel of the true one while the polygon is smaller than
// ROUGH_SHARE / 2 ... pixels (see planner.js). A ring of a 128-point circle keeps five or six.
// The result is deterministic: prepare.js counts the points, triangulate.js uses them.

export const ROUGH_SHARE = 1 / 16;
// Rings this short are kept whole.
export const ROUGH_MIN_POINTS = 8;

function distanceToLine(entries, first, i, a, b) {
  const ax = entries[2 * (first + a)];
  const ay = entries[2 * (first + a) + 1];
  const dx = entries[2 * (first + b)] - ax;
  const dy = entries[2 * (first + b) + 1] - ay;
  const px = entries[2 * (first + i)] - ax;
  const py = entries[2 * (first + i) + 1] - ay;
  const length = Math.hypot(dx, dy);
  return length > 0 ? Math.abs(px * dy - py * dx) / length : Math.hypot(px, py);
}

// Marks in keep[0 .. n) the points of the ring entries[first .. first + n) that the rough ring keeps,
// and returns how many (at least three).
export function roughRing(entries, first, n, size, keep) {
  if (n <= ROUGH_MIN_POINTS) {
    keep.fill(1, 0, n);
    return n;
  }
  keep.fill(0, 0, n);
  const tolerance = size * ROUGH_SHARE;
  // Anchors: the first point and the point farthest from it.
  let far = 1;
  let best = -1;
  const x0 = entries[2 * first];
  const y0 = entries[2 * first + 1];
  for (let i = 1; i < n; i += 1) {
    const d = Math.hypot(entries[2 * (first + i)] - x0, entries[2 * (first + i) + 1] - y0);
    if (d > best) {
      best = d;
      far = i;
    }
  }
  keep[0] = 1;
  keep[far] = 1;
  let count = 2;
  // Segments [a, b] of ring positions; position n is point 0 again.
  const stack = [0, far, far, n];
  while (stack.length) {
    const b = stack.pop();
    const a = stack.pop();
    let worst = -1;
    let at = -1;
    for (let i = a + 1; i < b; i += 1) {
      const d = distanceToLine(entries, first, i, a, b % n);
      if (d > worst) {
        worst = d;
        at = i;
      }
    }
    if (at >= 0 && worst > tolerance) {
      keep[at] = 1;
      count += 1;
      stack.push(a, at, at, b);
    }
  }
  if (count < 3) {
    // A ring flatter than the tolerance keeps the point farthest from its long axis.
    let worst = -1;
    let at = -1;
    for (let i = 1; i < n; i += 1) {
      if (i === far) continue;
      const d = distanceToLine(entries, first, i, 0, far);
      if (d > worst) {
        worst = d;
        at = i;
      }
    }
    keep[at] = 1;
    count += 1;
  }
  return count;
}
