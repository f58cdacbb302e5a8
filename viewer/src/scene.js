// Scene data of a depthview message, independent of the browser: buffer decoding, polygon
// extrusion, placement matrices, bounds and counts. main.js turns the results into three.js objects;
// the node tests in ../test check this module on its own.
import { Earcut } from 'three/src/extras/Earcut.js';

const TYPED_ARRAYS = {
  float32: Float32Array,
  float64: Float64Array,
  int8: Int8Array,
  uint8: Uint8Array,
  int16: Int16Array,
  uint16: Uint16Array,
  int32: Int32Array,
  uint32: Uint32Array,
  bool: Uint8Array,
};

// The bytes of standard base64 text.
export function base64ToBytes(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i += 1) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

// The numbers of a buffer record ({shape, dtype, buffer, codec: "b64"}) as a typed array. A plain
// JSON array of numbers (a scene written without buffer encoding) is accepted as well.
export function decodeBuffer(record) {
  if (record == null) return new Float32Array(0);
  if (Array.isArray(record)) return Float32Array.from(record);
  if (record.codec !== 'b64') throw new Error(`unknown buffer codec ${record.codec}`);
  const bytes = base64ToBytes(record.buffer);
  let values;
  if (record.dtype === 'int64' || record.dtype === 'uint64') {
    const Big = record.dtype === 'int64' ? BigInt64Array : BigUint64Array;
    values = Float64Array.from(new Big(bytes.buffer, 0, bytes.byteLength / 8), Number);
  } else {
    const Typed = TYPED_ARRAYS[record.dtype];
    if (!Typed) throw new Error(`unsupported buffer dtype ${record.dtype}`);
    values = new Typed(bytes.buffer, 0, bytes.byteLength / Typed.BYTES_PER_ELEMENT);
  }
  const expected = Array.isArray(record.shape) ? record.shape.reduce((a, b) => a * b, 1) : null;
  if (expected !== null && expected !== values.length) {
    throw new Error(`buffer holds ${values.length} values, shape says ${expected}`);
  }
  return values;
}

// Twice the signed area of a flat polygon [x0, y0, x1, y1, ...]: positive when counter-clockwise.
export function signedArea2(points, count) {
  let area = 0;
  for (let i = 0, j = count - 1; i < count; j = i, i += 1) {
    area += (points[2 * j] - points[2 * i]) * (points[2 * j + 1] + points[2 * i + 1]);
  }
  return area;
}

// The number of distinct points of a flat polygon, ignoring a repeated closing point.
function pointCount(points) {
  let count = Math.floor(points.length / 2);
  if (
    count > 1 &&
    points[0] === points[2 * count - 2] &&
    points[1] === points[2 * count - 1]
  ) {
    count -= 1;
  }
  return count;
}

// Extrudes the polygons `refs` of the pool `instances` (flat float arrays in the x-y plane) from
// z = 0 to z = height into one indexed triangle mesh. Each polygon gives a bottom and a top ring of
// vertices, caps triangulated by ear clipping and one quad per edge; all faces point outwards.
// Polygons with fewer than three points are skipped. Returns positions, indices and the x-y bounds.
export function extrude(instances, refs, height) {
  let vertexCount = 0;
  let indexCount = 0;
  const triangulations = [];
  for (const ref of refs) {
    const points = instances[ref];
    const count = points ? pointCount(points) : 0;
    if (count < 3) {
      triangulations.push(null);
      continue;
    }
    const flat = points.length === 2 * count ? points : points.subarray(0, 2 * count);
    const triangles = Earcut.triangulate(flat, null, 2);
    triangulations.push(triangles);
    vertexCount += 2 * count;
    indexCount += 2 * triangles.length + 6 * count;
  }
  const positions = new Float32Array(3 * vertexCount);
  const indices =
    vertexCount > 65535 ? new Uint32Array(indexCount) : new Uint16Array(indexCount);
  const bounds = { minX: Infinity, minY: Infinity, maxX: -Infinity, maxY: -Infinity };
  let v = 0;
  let k = 0;
  refs.forEach((ref, r) => {
    const triangles = triangulations[r];
    if (!triangles) return;
    const points = instances[ref];
    const count = pointCount(points);
    const base = v;
    for (let i = 0; i < count; i += 1) {
      const x = points[2 * i];
      const y = points[2 * i + 1];
      const bottom = 3 * (base + i);
      const top = 3 * (base + count + i);
      positions[bottom] = x;
      positions[bottom + 1] = y;
      positions[bottom + 2] = 0;
      positions[top] = x;
      positions[top + 1] = y;
      positions[top + 2] = height;
      if (x < bounds.minX) bounds.minX = x;
      if (x > bounds.maxX) bounds.maxX = x;
      if (y < bounds.minY) bounds.minY = y;
      if (y > bounds.maxY) bounds.maxY = y;
    }
    v += 2 * count;
    const ccw = signedArea2(points, count) >= 0;
    // Top cap counter-clockwise seen from above, bottom cap the other way round.
    for (let t = 0; t < triangles.length; t += 3) {
      let [a, b, c] = [triangles[t], triangles[t + 1], triangles[t + 2]];
      const cross =
        (points[2 * b] - points[2 * a]) * (points[2 * c + 1] - points[2 * a + 1]) -
        (points[2 * b + 1] - points[2 * a + 1]) * (points[2 * c] - points[2 * a]);
      if (cross < 0) [b, c] = [c, b];
      indices[k++] = base + count + a;
      indices[k++] = base + count + b;
      indices[k++] = base + count + c;
      indices[k++] = base + a;
      indices[k++] = base + c;
      indices[k++] = base + b;
    }
    for (let i = 0; i < count; i += 1) {
      let i0 = i;
      let i1 = (i + 1) % count;
      if (!ccw) [i0, i1] = [i1, i0];
      indices[k++] = base + i0;
      indices[k++] = base + i1;
      indices[k++] = base + count + i1;
      indices[k++] = base + i0;
      indices[k++] = base + count + i1;
      indices[k++] = base + count + i0;
    }
  });
  return { positions, indices: indices.subarray(0, k), bounds, vertexCount: v };
}

// The placements of a shape: one 2x3 matrix (a, b, tx, d, e, ty) per six values, as 4x4 matrices in
// column-major order (three.js' element order) that keep z unchanged.
export function placementMatrices(values) {
  const count = Math.floor(values.length / 6);
  const out = new Float32Array(16 * count);
  for (let p = 0; p < count; p += 1) {
    const [a, b, tx, d, e, ty] = values.subarray(6 * p, 6 * p + 6);
    out.set([a, d, 0, 0, b, e, 0, 0, 0, 0, 1, 0, tx, ty, 0, 1], 16 * p);
  }
  return out;
}

// Applies the 2x3 matrix at `offset` of `values` to the point (x, y).
export function applyPlacement(values, offset, x, y) {
  return [
    values[offset] * x + values[offset + 1] * y + values[offset + 2],
    values[offset + 3] * x + values[offset + 4] * y + values[offset + 5],
  ];
}

// The world bounds of one shape: its x-y bounds under every placement (or none), z from its
// bottom to bottom + height.
export function shapeBounds(bounds, matrices, zmin, height) {
  const out = {
    min: [Infinity, Infinity, Math.min(zmin, zmin + height)],
    max: [-Infinity, -Infinity, Math.max(zmin, zmin + height)],
  };
  if (!(bounds.minX <= bounds.maxX)) return null;
  const corners = [
    [bounds.minX, bounds.minY],
    [bounds.maxX, bounds.minY],
    [bounds.maxX, bounds.maxY],
    [bounds.minX, bounds.maxY],
  ];
  const placements = matrices.length >= 6 ? Math.floor(matrices.length / 6) : 0;
  const take = (x, y) => {
    out.min[0] = Math.min(out.min[0], x);
    out.min[1] = Math.min(out.min[1], y);
    out.max[0] = Math.max(out.max[0], x);
    out.max[1] = Math.max(out.max[1], y);
  };
  if (placements === 0) {
    for (const [x, y] of corners) take(x, y);
  } else {
    for (let p = 0; p < placements; p += 1) {
      for (const [x, y] of corners) take(...applyPlacement(matrices, 6 * p, x, y));
    }
  }
  return out;
}

// The message content or its "data" part: the scene root, its buffers decoded, and the config.
export function readMessage(message) {
  const root = message && message.type === 'data' ? message.data : message;
  if (!root || typeof root !== 'object') throw new Error('no scene data in the message');
  const instances = (root.instances || []).map(decodeBuffer);
  return { root, instances, config: (message && message.config) || {} };
}

// Walks the tree of parts depth first, calling visit(node, parent, depth) on every node.
export function walkParts(node, visit, parent = null, depth = 0) {
  visit(node, parent, depth);
  for (const child of node.parts || []) walkParts(child, visit, node, depth + 1);
}

// Counts of a scene: leaves, inner nodes, polygons drawn (each placement counted) and placements.
export function sceneCounts(root) {
  const counts = { parts: 0, groups: 0, polygons: 0, placements: 0 };
  walkParts(root, (node) => {
    if (node.shape) {
      counts.parts += 1;
      const matrices = node.shape.matrices;
      const placements = matrices ? Math.floor(decodeBuffer(matrices).length / 6) : 0;
      counts.placements += placements;
      counts.polygons += (node.shape.refs || []).length * Math.max(1, placements);
    } else {
      counts.groups += 1;
    }
  });
  return counts;
}
