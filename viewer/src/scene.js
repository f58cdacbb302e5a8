// Scene data of a depthview message, independent of the browser: buffer decoding, the message's
// parts, their placements and counts. prepare.js builds the drawable layout from these; the node
// tests in ../test check this module on its own.
import { base64Length, decodeBase64Into } from './base64.js';

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
  const bytes = new Uint8Array(base64Length(text));
  decodeBase64Into(text, bytes, 0);
  return bytes;
}

// The numbers of a buffer record ({shape, dtype, buffer, codec: "b64"}) as a typed array. A plain
// JSON array of numbers (a scene written without buffer encoding) is accepted as well.
export function decodeBuffer(record) {
  if (record == null) return new Float32Array(0);
  if (Array.isArray(record)) return Float32Array.from(record);
  if (record.codec !== 'b64') throw new Error(`unknown buffer codec ${record.codec}`);
  const bytes = base64ToBytes(String(record.buffer ?? ''));
  let values;
  if (record.dtype === 'int64' || record.dtype === 'uint64') {
    const Big = record.dtype === 'int64' ? BigInt64Array : BigUint64Array;
    if (bytes.byteLength % 8) throw new Error(`${bytes.byteLength} bytes are not whole int64 values`);
    values = Float64Array.from(new Big(bytes.buffer, 0, bytes.byteLength / 8), Number);
  } else {
    const Typed = TYPED_ARRAYS[record.dtype];
    if (!Typed) throw new Error(`unsupported buffer dtype ${record.dtype}`);
    if (bytes.byteLength % Typed.BYTES_PER_ELEMENT) {
      throw new Error(`${bytes.byteLength} bytes are not whole ${record.dtype} values`);
    }
    values = new Typed(bytes.buffer, 0, bytes.byteLength / Typed.BYTES_PER_ELEMENT);
  }
  const expected = Array.isArray(record.shape) ? record.shape.reduce((a, b) => a * b, 1) : null;
  if (expected !== null && expected !== values.length) {
    throw new Error(`buffer holds ${values.length} values, shape says ${expected}`);
  }
  return values;
}

// The message content or its "data" part: the scene root (buffers still encoded) and the config.
export function readMessage(message) {
  const root = message && message.type === 'data' ? message.data : message;
  if (!root || typeof root !== 'object' || Array.isArray(root)) {
    throw new Error('no scene data in the message');
  }
  const config = message && typeof message.config === 'object' && message.config ? message.config : {};
  return { root, records: Array.isArray(root.instances) ? root.instances : [], config };
}

// Twice the signed area of a flat polygon [x0, y0, x1, y1, ...] of `count` points: positive when
// counter-clockwise.
export function signedArea2(points, count, offset = 0) {
  let area = 0;
  for (let i = 0, j = count - 1; i < count; j = i, i += 1) {
    const xi = points[offset + 2 * i];
    const yi = points[offset + 2 * i + 1];
    const xj = points[offset + 2 * j];
    const yj = points[offset + 2 * j + 1];
    area += (xj - xi) * (yj + yi);
  }
  return area;
}

// The number of distinct points of the flat polygon of `length` numbers at `offset`, ignoring a
// repeated closing point.
export function pointCount(points, length, offset = 0) {
  let count = Math.floor(length / 2);
  if (
    count > 1 &&
    points[offset] === points[offset + 2 * count - 2] &&
    points[offset + 1] === points[offset + 2 * count - 1]
  ) {
    count -= 1;
  }
  return count;
}

// The placement of a node from its "loc" ([position, quaternion]) as a 2D affine matrix
// [a, b, tx, d, e, ty] and a height offset z. Parts are extruded along z, so only rotations about
// the z axis have a meaning; any other rotation is refused.
export function locTransform(loc) {
  const [position = [0, 0, 0], rotation = [0, 0, 0, 1]] = Array.isArray(loc) ? loc : [];
  const [x = 0, y = 0, z = 0] = position;
  const [qx = 0, qy = 0, qz = 0, qw = 1] = rotation;
  if (Math.abs(qx) > 1e-9 || Math.abs(qy) > 1e-9) {
    throw new Error('a part is rotated out of the layout plane; only rotations about z can be shown');
  }
  const norm = Math.hypot(qz, qw) || 1;
  const angle = 2 * Math.atan2(qz / norm, qw / norm);
  const c = Math.cos(angle);
  const s = Math.sin(angle);
  return { m: [c, -s, Number(x), s, c, Number(y)], z: Number(z) };
}

// The product p * q of two 2D affine matrices [a, b, tx, d, e, ty]: q applied first.
export function multiplyAffine(p, q, out = new Array(6)) {
  const [pa, pb, ptx, pd, pe, pty] = p;
  const [qa, qb, qtx, qd, qe, qty] = q;
  out[0] = pa * qa + pb * qd;
  out[1] = pa * qb + pb * qe;
  out[2] = pa * qtx + pb * qty + ptx;
  out[3] = pd * qa + pe * qd;
  out[4] = pd * qb + pe * qe;
  out[5] = pd * qtx + pe * qty + pty;
  return out;
}

// Applies the 2x3 matrix at `offset` of `values` to the point (x, y).
export function applyPlacement(values, offset, x, y) {
  return [
    values[offset] * x + values[offset + 1] * y + values[offset + 2],
    values[offset + 3] * x + values[offset + 4] * y + values[offset + 5],
  ];
}

// The placements of a shape: one 2x3 matrix (a, b, tx, d, e, ty) per six values, as 4x4 matrices in
// column-major order that keep z unchanged.
export function placementMatrices(values) {
  const count = Math.floor(values.length / 6);
  const out = new Float32Array(16 * count);
  for (let p = 0; p < count; p += 1) {
    const [a, b, tx, d, e, ty] = values.subarray(6 * p, 6 * p + 6);
    out.set([a, d, 0, 0, b, e, 0, 0, 0, 0, 1, 0, tx, ty, 0, 1], 16 * p);
  }
  return out;
}

// Walks the tree of parts depth first (parents before children, children in order), calling
// visit(node, parent, depth). Uses an explicit stack: scene trees can be deep.
export function walkParts(root, visit) {
  const stack = [[root, null, 0]];
  while (stack.length) {
    const [node, parent, depth] = stack.pop();
    visit(node, parent, depth);
    const children = Array.isArray(node.parts) ? node.parts : [];
    for (let i = children.length - 1; i >= 0; i -= 1) stack.push([children[i], node, depth + 1]);
  }
}

// The number of placements of a shape's "matrices" record without decoding it.
export function placementCount(record) {
  if (record == null) return 0;
  if (Array.isArray(record)) return Math.floor(record.length / 6);
  if (Array.isArray(record.shape)) return Math.floor(record.shape.reduce((a, b) => a * b, 1) / 6);
  return Math.floor(decodeBuffer(record).length / 6);
}

// Counts of a scene: leaves, inner nodes, polygons drawn (each placement counted) and placements.
export function sceneCounts(root) {
  const counts = { parts: 0, groups: 0, polygons: 0, placements: 0 };
  walkParts(root, (node) => {
    if (node.shape) {
      counts.parts += 1;
      const placements = placementCount(node.shape.matrices);
      counts.placements += placements;
      counts.polygons += (node.shape.refs || []).length * Math.max(1, placements);
    } else {
      counts.groups += 1;
    }
  });
  return counts;
}
