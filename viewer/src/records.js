// The placement record: one per placement (one drawn copy of a leaf's geometry), four RGBA float
// texels in `scene.instances.records`, read by the shaders as a texture and by the page's code
// through the field names here (nothing else knows the offsets).
//
//   texel 0: a, b, tx, d        the 2x3 matrix, first row and half the second
//   texel 1: e, ty, geometry, leaf
//   texel 2: cx, cy, radius, fill   world centre and radius of the placement's box; share of the box covered
//   texel 3: layer, mirrored, scale, 0
// Positions (tx, ty, cx, cy) are relative to the scene's centre.
export const INSTANCE_FLOATS = 16;

export const FIELD = Object.freeze({
  a: 0,
  b: 1,
  tx: 2,
  d: 3,
  e: 4,
  ty: 5,
  geometry: 6,
  leaf: 7,
  cx: 8,
  cy: 9,
  radius: 10,
  fill: 11,
  layer: 12,
  mirrored: 13,
  scale: 14,
});

// The offset of the record of the placement in `slot`.
export const recordOffset = (slot) => INSTANCE_FLOATS * slot;

// The placement's 2x3 matrix [a, b, tx, d, e, ty] (translation relative to the scene's centre).
export function placementMatrix(records, slot) {
  const o = INSTANCE_FLOATS * slot;
  return [records[o + FIELD.a], records[o + FIELD.b], records[o + FIELD.tx], records[o + FIELD.d], records[o + FIELD.e], records[o + FIELD.ty]];
}
