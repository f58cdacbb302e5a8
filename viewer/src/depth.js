// Depth ordering of faces that lie in one plane (an etch whose top is a waveguide's top): the
// layers' tie ranks and the frame's depth step, which the renderer's shaders apply.
// Coincident faces: faces are pushed away from the viewer in normalised device depth, by
// (1 + maximal tie rank - the face's tie rank) times the frame's depth step (see depthStep below), so
// that among faces in one plane the layer with the highest tie rank wins and every face lies
// behind the outlines. Polygon offsets are not used: their units are too small to matter on some
// implementations (SwiftShader), and they do not scale with the slope the same way everywhere.
export const DEPTH_STEP_MIN = 2 ** -18;
export const DEPTH_STEP_MAX = 2 ** -11;

// Sets tieTop and tieBottom of each layer: its place, thickest first, among the layers whose top
// (bottom) lies at the same height. Returns the largest.
export function assignTieRanks(layers) {
  let largest = 0;
  for (const [key, field] of [
    [(layer) => layer.zmin + layer.height, 'tieTop'],
    [(layer) => layer.zmin, 'tieBottom'],
  ]) {
    const planes = new Map();
    for (const layer of layers) {
      const z = key(layer);
      if (!planes.has(z)) planes.set(z, []);
      planes.get(z).push(layer);
    }
    for (const sharing of planes.values()) {
      sharing.sort((a, b) => b.height - a.height);
      sharing.forEach((layer, rank) => {
        layer[field] = rank;
        largest = Math.max(largest, rank);
      });
    }
  }
  return largest;
}

// The depth step of a frame (see renderer.js): an eighth of a pixel's worth of depth change of a
// horizontal face at the target, so that faces in one plane keep their order however their
// triangles are snapped to the pixel grid; clamped for faces seen nearly edge-on.
export function depthStep(viewProj, target, width, height) {
  const project = (x, y, z) => {
    const m = viewProj;
    const w = m[3] * x + m[7] * y + m[11] * z + m[15];
    return [0, 1, 2].map((r) => (m[r] * x + m[r + 4] * y + m[r + 8] * z + m[r + 12]) / w);
  };
  const [x, y, z] = target;
  const o = project(x, y, z);
  const u = project(x + 1, y, z).map((v, i) => v - o[i]);
  const v = project(x, y + 1, z).map((value, i) => value - o[i]);
  // Screen pixels per unit step along x and y of the face, and the depth change of each.
  const determinant = u[0] * v[1] - u[1] * v[0];
  if (Math.abs(determinant) < 1e-30) return DEPTH_STEP_MAX;
  // Depth gradient in NDC x and y: solve [u v] g = [uz vz].
  const gx = (u[2] * v[1] - v[2] * u[1]) / determinant;
  const gy = (v[2] * u[0] - u[2] * v[0]) / determinant;
  const perPixel = Math.max(Math.abs(gx) * (2 / width), Math.abs(gy) * (2 / height));
  return Math.min(DEPTH_STEP_MAX, Math.max(DEPTH_STEP_MIN, perPixel / 8));
}

