// The helper lines drawn over the scene: axes and grids, in scene coordinates (relative to the
// scene's centre, z already scaled).

const AXIS_COLORS = [
  [0.85, 0.2, 0.2, 1],
  [0.2, 0.65, 0.25, 1],
  [0.2, 0.35, 0.9, 1],
];

// Three axes from `origin`, each `length` long.
export function axesLines(origin, length) {
  const positions = [];
  const colors = [];
  for (let axis = 0; axis < 3; axis += 1) {
    const end = origin.slice();
    end[axis] += length;
    positions.push(...origin, ...end);
    colors.push(...AXIS_COLORS[axis], ...AXIS_COLORS[axis]);
  }
  return { positions: Float32Array.from(positions), colors: Float32Array.from(colors) };
}

// Grid lines over the box [min, max] in the planes shown (planes: [xy, xz, yz] booleans), about
// `ticks` lines across the scene.
export function gridLines(min, max, planes, ticks, dark) {
  const positions = [];
  const colors = [];
  const span = Math.max(max[0] - min[0], max[1] - min[1], max[2] - min[2], 1e-3);
  const step = niceStep(span / ticks);
  const color = dark ? [0.5, 0.55, 0.6, 0.6] : [0.45, 0.5, 0.55, 0.45];
  const range = (lo, hi) => {
    const values = [];
    for (let v = Math.floor(lo / step) * step; v <= hi + step * 1e-6; v += step) values.push(v);
    return values;
  };
  // Planes xy (z = bottom of the scene), xz and yz (through the scene's near sides).
  const places = [
    [0, 1, 2, min[2]],
    [0, 2, 1, max[1]],
    [1, 2, 0, min[0]],
  ];
  places.forEach(([u, v, w, at], i) => {
    if (!planes[i]) return;
    const uValues = range(min[u], max[u]);
    const vValues = range(min[v], max[v]);
    const uLo = uValues[0];
    const uHi = uValues[uValues.length - 1];
    const vLo = vValues[0];
    const vHi = vValues[vValues.length - 1];
    const point = (a, b) => {
      const p = [0, 0, 0];
      p[u] = a;
      p[v] = b;
      p[w] = at;
      return p;
    };
    for (const a of uValues) positions.push(...point(a, vLo), ...point(a, vHi));
    for (const b of vValues) positions.push(...point(uLo, b), ...point(uHi, b));
  });
  for (let i = 0; i < positions.length / 3; i += 1) colors.push(...color);
  return { positions: Float32Array.from(positions), colors: Float32Array.from(colors) };
}

// 1, 2 or 5 times a power of ten, at least `value`.
export function niceStep(value) {
  const power = 10 ** Math.floor(Math.log10(Math.max(value, 1e-12)));
  for (const factor of [1, 2, 5, 10]) if (factor * power >= value) return factor * power;
  return 10 * power;
}

