// Ray picking against the exact extruded polygons: the culling tree finds the placements whose
// boxes the ray crosses, nearer ones first; within a placement the ray is taken into the geometry's
// own plane (through the inverse of its 2x3 matrix) and tested against each polygon's prism: its
// cap where the ray enters the layer's height range inside the polygon, else the first wall it
// crosses within that range.
import { FIELD, INSTANCE_FLOATS, placementMatrix } from './records.js';

function slab(origin, inverse, lo, hi) {
  // Ray parameter interval inside [lo, hi] along one axis.
  let t0 = (lo - origin) * inverse;
  let t1 = (hi - origin) * inverse;
  if (t0 > t1) [t0, t1] = [t1, t0];
  return [t0, t1];
}

function rayBox(origin, inverse, box, zScale) {
  let [near, far] = slab(origin[0], inverse[0], box[0], box[3]);
  const [y0, y1] = slab(origin[1], inverse[1], box[1], box[4]);
  const [z0, z1] = slab(origin[2], inverse[2], box[2] * zScale, box[5] * zScale);
  near = Math.max(near, y0, z0);
  far = Math.min(far, y1, z1);
  return near <= far && far >= 0 ? Math.max(near, 0) : Infinity;
}

function inside(entries, first, n, x, y) {
  let result = false;
  for (let i = 0, j = n - 1; i < n; j = i, i += 1) {
    const xi = entries[2 * (first + i)];
    const yi = entries[2 * (first + i) + 1];
    const xj = entries[2 * (first + j)];
    const yj = entries[2 * (first + j) + 1];
    if (yi > y !== yj > y && x < ((xj - xi) * (y - yi)) / (yj - yi) + xi) result = !result;
  }
  return result;
}

// The nearest hit of the ray (origin, direction in scene coordinates) on a visible polygon, or
// null: {t, point, slot, polygon, leaf, layer, normal}.
export function pick(scene, ray, { visible, zScale = 1 } = {}) {
  const { records, bvh, count } = scene.instances;
  const { geometryPolygons, polygonEntries, polygonBoxes, entries } = scene.geometry;
  if (!count) return null;
  const { origin, direction } = ray;
  const inverse = direction.map((d) => (d === 0 ? Infinity : 1 / d));
  let best = null;
  // Depth first, the nearer child first, skipping nodes that start beyond the best hit so far.
  const entry = (node) => rayBox(origin, inverse, bvh.box.subarray(6 * node, 6 * node + 6), zScale);
  const stack = [[entry(0), 0]];
  while (stack.length) {
    const [tNode, node] = stack.pop();
    if (tNode === Infinity || (best && tNode > best.t)) continue;
    if (bvh.count[node] === 0) {
      const near = [entry(node + 1), node + 1];
      const far = [entry(bvh.start[node]), bvh.start[node]];
      if (near[0] > far[0]) stack.push(near, far);
      else stack.push(far, near);
      continue;
    }
    for (let slot = bvh.start[node]; slot < bvh.start[node] + bvh.count[node]; slot += 1) {
      const o = INSTANCE_FLOATS * slot;
      const leaf = records[o + FIELD.leaf];
      if (visible && !visible[leaf]) continue;
      const layerIndex = records[o + FIELD.layer];
      const layer = scene.layers[layerIndex];
      const z0 = layer.zmin * zScale;
      const z1 = (layer.zmin + layer.height) * zScale;
      let tA;
      let tB;
      if (direction[2] !== 0) {
        [tA, tB] = slab(origin[2], inverse[2], z0, z1);
      } else if (origin[2] >= z0 && origin[2] <= z1) {
        [tA, tB] = [0, 1e30];
      } else {
        continue;
      }
      tA = Math.max(tA, 0);
      if (tA > tB || (best && tA > best.t)) continue;
      // The ray's xy in the geometry's plane: q(t) = q0 + t * q1.
      const [a, b, tx, d, e, ty] = placementMatrix(records, slot);
      const det = a * e - b * d;
      if (det === 0) continue;
      const local = (x, y) => [(e * (x - tx) - b * (y - ty)) / det, (-d * (x - tx) + a * (y - ty)) / det];
      const q0 = local(origin[0], origin[1]);
      const qEnd = local(origin[0] + direction[0], origin[1] + direction[1]);
      const q1 = [qEnd[0] - q0[0], qEnd[1] - q0[1]];
      const sA = [q0[0] + tA * q1[0], q0[1] + tA * q1[1]];
      const sB = [q0[0] + Math.min(tB, 1e30) * q1[0], q0[1] + Math.min(tB, 1e30) * q1[1]];
      const g = records[o + FIELD.geometry];
      for (let p = geometryPolygons[g]; p < geometryPolygons[g + 1]; p += 1) {
        const bx = 4 * p;
        if (
          Math.max(sA[0], sB[0]) < polygonBoxes[bx] ||
          Math.min(sA[0], sB[0]) > polygonBoxes[bx + 2] ||
          Math.max(sA[1], sB[1]) < polygonBoxes[bx + 1] ||
          Math.min(sA[1], sB[1]) > polygonBoxes[bx + 3]
        ) {
          continue;
        }
        const first = polygonEntries[p];
        const n = polygonEntries[p + 1] - first - 2;
        let t = Infinity;
        let normal = null;
        if (inside(entries, first, n, sA[0], sA[1])) {
          t = tA;
          normal = [0, 0, direction[2] > 0 ? -1 : 1];
        } else {
          for (let i = 0; i < n; i += 1) {
            const x0 = entries[2 * (first + i)];
            const y0 = entries[2 * (first + i) + 1];
            const x1 = entries[2 * (first + i + 1)];
            const y1 = entries[2 * (first + i + 1) + 1];
            // Solve q0 + t q1 = p0 + s (p1 - p0).
            const ex = x1 - x0;
            const ey = y1 - y0;
            const denominator = q1[0] * ey - q1[1] * ex;
            if (denominator === 0) continue;
            const wx = x0 - q0[0];
            const wy = y0 - q0[1];
            const tHit = (wx * ey - wy * ex) / denominator;
            const s = (wx * q1[1] - wy * q1[0]) / denominator;
            if (s >= 0 && s <= 1 && tHit >= tA && tHit <= tB && tHit < t) {
              t = tHit;
              const nx = ey * e - -ex * d;
              const ny = -ey * b + -ex * a;
              const length = Math.hypot(nx, ny) * Math.sign(det);
              normal = [nx / length, ny / length, 0];
            }
          }
        }
        if (t < Infinity && (!best || t < best.t)) {
          const point = origin.map((value, i) => value + t * direction[i]);
          best = { t, point, slot, polygon: p, leaf, layer: layerIndex, normal };
        }
      }
    }
  }
  return best;
}

// The box of polygon `polygon` as placed by instance `slot`: {min: [x, y, z], max: [x, y, z]}
// in scene coordinates (relative to the scene centre, z unscaled).
export function placedBox(scene, slot, polygon) {
  const { records } = scene.instances;
  const { polygonEntries, entries } = scene.geometry;
  const o = INSTANCE_FLOATS * slot;
  const [a, b, tx, d, e, ty] = placementMatrix(records, slot);
  const layer = scene.layers[records[o + FIELD.layer]];
  const min = [Infinity, Infinity, layer.zmin];
  const max = [-Infinity, -Infinity, layer.zmin + layer.height];
  const first = polygonEntries[polygon];
  const n = polygonEntries[polygon + 1] - first - 2;
  for (let i = 0; i < n; i += 1) {
    const x = entries[2 * (first + i)];
    const y = entries[2 * (first + i) + 1];
    const px = a * x + b * y + tx;
    const py = d * x + e * y + ty;
    min[0] = Math.min(min[0], px);
    min[1] = Math.min(min[1], py);
    max[0] = Math.max(max[0], px);
    max[1] = Math.max(max[1], py);
  }
  return { min, max };
}

// The outline of polygon `polygon` as placed by instance `slot`, at height z: flat [x, y, z, ...]
// pairs of line-segment ends.
export function placedOutline(scene, slot, polygon, z) {
  const { records } = scene.instances;
  const { polygonEntries, entries } = scene.geometry;
  const o = INSTANCE_FLOATS * slot;
  const [a, b, tx, d, e, ty] = placementMatrix(records, slot);
  const first = polygonEntries[polygon];
  const n = polygonEntries[polygon + 1] - first - 2;
  const out = new Float32Array(6 * n);
  for (let i = 0; i < n; i += 1) {
    for (let k = 0; k < 2; k += 1) {
      const x = entries[2 * (first + i + k)];
      const y = entries[2 * (first + i + k) + 1];
      out.set([a * x + b * y + tx, d * x + e * y + ty, z], 6 * i + 3 * k);
    }
  }
  return out;
}
