// Builders of depthview messages for the unit tests, encoded the way depthview encodes them.
export function record(values, dtype = 'float32') {
  const Typed = { float32: Float32Array, float64: Float64Array, int32: Int32Array }[dtype];
  const array = Typed.from(values);
  return {
    shape: [array.length],
    dtype,
    buffer: Buffer.from(array.buffer).toString('base64'),
    codec: 'b64',
  };
}

// A leaf part: polygons `refs`, extruded by `height` from `zmin`, placed by `matrices`.
export function part(name, refs, { height = 1, zmin = 0, color = '#ff0000', matrices = [] } = {}) {
  return {
    name,
    id: name,
    loc: [[0, 0, zmin], [0, 0, 0, 1]],
    shape: { refs, height, matrices: record(matrices) },
    color,
  };
}

export function group(name, parts, loc = [[0, 0, 0], [0, 0, 0, 1]]) {
  return { name, id: name, loc, parts };
}

export function message(root, polygons, config = {}) {
  return { type: 'data', data: { ...root, instances: polygons.map((p) => record(p)) }, config };
}

// Twice the signed area of ring entries[first .. first + n).
export function ringArea2(entries, first, n) {
  let area = 0;
  for (let i = 0, j = n - 1; i < n; j = i, i += 1) {
    area += (entries[2 * (first + j)] - entries[2 * (first + i)]) * (entries[2 * (first + j) + 1] + entries[2 * (first + i) + 1]);
  }
  return area;
}

export function triangleArea2(entries, a, b, c) {
  return (
    (entries[2 * b] - entries[2 * a]) * (entries[2 * c + 1] - entries[2 * a + 1]) -
    (entries[2 * b + 1] - entries[2 * a + 1]) * (entries[2 * c] - entries[2 * a])
  );
}

export function circle(cx, cy, r, n) {
  const out = [];
  for (let i = 0; i < n; i += 1) out.push(cx + r * Math.cos((2 * Math.PI * i) / n), cy + r * Math.sin((2 * Math.PI * i) / n));
  return out;
}
