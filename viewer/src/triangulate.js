// Cap triangles of the prepared rings: each polygon's ring (counter-clockwise, see prepare.js)
// becomes n - 2 triangles, counter-clockwise seen from above, as indices into the entries, and its
// rough ring (simplify.js) m - 2 more. Convex rings (boxes, circles) are fanned; others go through
// ear clipping. A ring that ear clipping cannot fully cut (a self-touching one) fills its unused
// slots with degenerate triangles.
import { Earcut } from 'three/src/extras/Earcut.js';
import { RING_EXTRA } from './prepare.js';
import { roughRing } from './simplify.js';

// Writes the triangles of the ring whose points are entries[first + map[i]] (i < n) into
// out[k .. end), counter-clockwise; unused slots get degenerate triangles.
function triangulateRing(entries, first, map, n, out, k, end) {
  if (isConvexMapped(entries, first, map, n)) {
    for (let i = 1; i < n - 1; i += 1) {
      out[k] = first + map[0];
      out[k + 1] = first + map[i];
      out[k + 2] = first + map[i + 1];
      k += 3;
    }
  } else {
    const ring = new Float64Array(2 * n);
    for (let i = 0; i < n; i += 1) {
      ring[2 * i] = entries[2 * (first + map[i])];
      ring[2 * i + 1] = entries[2 * (first + map[i]) + 1];
    }
    const triangles = Earcut.triangulate(ring, null, 2);
    for (let t = 0; t + 2 < triangles.length && k < end; t += 3) {
      const a = triangles[t];
      let b = triangles[t + 1];
      let c = triangles[t + 2];
      const cross =
        (ring[2 * b] - ring[2 * a]) * (ring[2 * c + 1] - ring[2 * a + 1]) -
        (ring[2 * b + 1] - ring[2 * a + 1]) * (ring[2 * c] - ring[2 * a]);
      if (cross < 0) [b, c] = [c, b];
      out[k] = first + map[a];
      out[k + 1] = first + map[b];
      out[k + 2] = first + map[c];
      k += 3;
    }
  }
  for (; k < end; k += 1) out[k] = first + map[0];
}

function isConvexMapped(entries, first, map, n) {
  let flips = 0;
  let previousDx = 0;
  for (let i = 0; i < n; i += 1) {
    const a = 2 * (first + map[i]);
    const b = 2 * (first + map[(i + 1) % n]);
    const c = 2 * (first + map[(i + 2) % n]);
    const dx1 = entries[b] - entries[a];
    const dy1 = entries[b + 1] - entries[a + 1];
    const dx2 = entries[c] - entries[b];
    const dy2 = entries[c + 1] - entries[b + 1];
    if (dx1 * dy2 - dy1 * dx2 < 0) return false;
    if (dx1 !== 0) {
      if (previousDx !== 0 && Math.sign(dx1) !== Math.sign(previousDx)) flips += 1;
      previousDx = dx1;
    }
  }
  // A ring that turns left everywhere but winds more than once changes x direction more often.
  return flips <= 2;
}

// Writes the caps of polygons [p0, p1): the full triangulation into `full` and the rough one
// (simplify.js) into `rough`, each from index 0 (full[0] is the first index of polygon p0).
export function triangulatePolygons(geometry, p0, p1, full, rough) {
  const { entries, polygonEntries, polygonCaps, polygonRough, polygonInfo } = geometry;
  const fullBase = polygonCaps[p0];
  const roughBase = polygonRough[p0];
  let map = new Int32Array(64);
  let keep = new Uint8Array(64);
  for (let p = p0; p < p1; p += 1) {
    const first = polygonEntries[p];
    const n = polygonEntries[p + 1] - first - RING_EXTRA;
    if (map.length < n) {
      map = new Int32Array(2 * n);
      keep = new Uint8Array(2 * n);
    }
    for (let i = 0; i < n; i += 1) map[i] = i;
    triangulateRing(entries, first, map, n, full, polygonCaps[p] - fullBase, polygonCaps[p + 1] - fullBase);
    const kept = roughRing(entries, first, n, polygonInfo[4 * p + 2], keep);
    if (kept === n) {
      rough.set(full.subarray(polygonCaps[p] - fullBase, polygonCaps[p + 1] - fullBase), polygonRough[p] - roughBase);
      continue;
    }
    let m = 0;
    for (let i = 0; i < n; i += 1) if (keep[i]) map[m++] = i;
    triangulateRing(entries, first, map, m, rough, polygonRough[p] - roughBase, polygonRough[p + 1] - roughBase);
  }
}
