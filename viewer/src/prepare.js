// Turns a depthview message into the drawable layout of the page, in flat typed arrays that move to
// the main thread without copying:
//
// - the part tree, flattened (names, ids, parents, leaf numbers, colours);
// - layers: leaves with the same bottom, height and colour are drawn together;
// - geometries: the distinct polygon sets of the leaves (a cell's polygons on one layer), each
//   polygon stored once per geometry as a counter-clockwise ring, largest polygons first so that
//   "the polygons at least s wide" is a prefix of the geometry;
// - instances: one per placement of a leaf, with its full 2x3 matrix (rotation, mirror,
//   magnification), in the order of a bounding-volume tree over their world boxes.
//
// Coordinates are micrometres. World positions are stored relative to the centre of the scene so
// that float32 keeps its precision wherever the layout sits.
import { decodeBuffer, locTransform, multiplyAffine, pointCount, readMessage, signedArea2 } from './scene.js';
import { base64Length, decodeBase64Into } from './base64.js';
import { buildBvh } from './bvh.js';
import { roughRing } from './simplify.js';
import { FIELD, INSTANCE_FLOATS } from './records.js';

// A ring in `entries` is its points, its first point again, and one sentinel point: walls and
// outlines are drawn edge by edge over consecutive entries, and an edge that touches a sentinel is
// dropped by the shaders.
export const SENTINEL = 3.0e38;
export const RING_EXTRA = 2;

// The placement record's layout lives in records.js.
export { INSTANCE_FLOATS } from './records.js';

const noProgress = () => {};

// Decodes the polygon pool into one float array; polygon i is values[starts[i] .. starts[i + 1]).
export function decodePool(records, progress = noProgress) {
  const count = records.length;
  const starts = new Int32Array(count + 1);
  let total = 0;
  for (let i = 0; i < count; i += 1) {
    const record = records[i];
    let length;
    if (record && !Array.isArray(record) && record.codec === 'b64' && record.dtype === 'float32') {
      length = base64Length(String(record.buffer ?? '')) / 4;
      if (!Number.isInteger(length)) throw new Error(`polygon ${i}: buffer is not whole float32 values`);
    } else {
      length = decodeBuffer(record).length;
    }
    starts[i] = total;
    total += length;
  }
  starts[count] = total;
  const values = new Float32Array(total);
  const bytes = new Uint8Array(values.buffer);
  for (let i = 0; i < count; i += 1) {
    const record = records[i];
    if (record && !Array.isArray(record) && record.codec === 'b64' && record.dtype === 'float32') {
      decodeBase64Into(String(record.buffer ?? ''), bytes, 4 * starts[i]);
      const shape = Array.isArray(record.shape) ? record.shape.reduce((a, b) => a * b, 1) : null;
      if (shape !== null && shape !== starts[i + 1] - starts[i]) {
        throw new Error(`polygon ${i}: buffer holds ${starts[i + 1] - starts[i]} values, shape says ${shape}`);
      }
    } else {
      values.set(decodeBuffer(record), starts[i]);
    }
    if ((i & 16383) === 16383) progress('decoding polygons', i + 1, count);
  }
  progress('decoding polygons', count, count);
  return { values, starts };
}

// The part tree in flat arrays, and one record per leaf with its placement in the scene.
export function flattenTree(root, config) {
  const names = [];
  const ids = [];
  const colors = [];
  const parents = [];
  const leafOf = [];
  const leaves = [];
  const defaultColor = typeof config.default_color === 'string' ? config.default_color : '#e8b024';
  const stack = [[root, -1, { m: [1, 0, 0, 0, 1, 0], z: 0 }]];
  while (stack.length) {
    const [node, parent, placement] = stack.pop();
    if (!node || typeof node !== 'object') throw new Error('a part of the scene is not an object');
    const index = names.length;
    const local = locTransform(node.loc);
    const here = { m: multiplyAffine(placement.m, local.m), z: placement.z + local.z };
    names.push(String(node.name ?? ''));
    ids.push(String(node.id ?? node.name ?? ''));
    parents.push(parent);
    if (node.shape) {
      const color = typeof node.color === 'string' && node.color ? node.color : defaultColor;
      colors.push(color);
      leafOf.push(leaves.length);
      let height = Number(node.shape.height ?? 0);
      let zmin = here.z;
      if (!Number.isFinite(height)) throw new Error(`part ${ids[index]}: height is not a number`);
      if (height < 0) {
        zmin += height;
        height = -height;
      }
      const refs = Array.isArray(node.shape.refs) ? node.shape.refs : [];
      const matrices = decodeBuffer(node.shape.matrices);
      if (matrices.length % 6) {
        throw new Error(`part ${ids[index]}: ${matrices.length} matrix values are not whole placements`);
      }
      leaves.push({ node: index, refs, height, zmin, color, affine: here.m, matrices });
    } else {
      colors.push(null);
      leafOf.push(-1);
      const children = Array.isArray(node.parts) ? node.parts : [];
      for (let i = children.length - 1; i >= 0; i -= 1) stack.push([children[i], index, here]);
    }
  }
  return {
    tree: { names, ids, colors, parents: Int32Array.from(parents), leafOf: Int32Array.from(leafOf) },
    leaves,
  };
}

// Groups the leaves into layers (same bottom, height and colour) and geometries (same polygon
// list), and lays the geometries' rings out in `entries`.
export function buildGeometries(leaves, pool, progress = noProgress) {
  const layerKeys = new Map();
  const layers = [];
  const geometryKeys = new Map();
  const geometryRefs = [];
  for (const leaf of leaves) {
    const layerKey = `${leaf.zmin}|${leaf.height}|${leaf.color}`;
    if (!layerKeys.has(layerKey)) {
      layerKeys.set(layerKey, layers.length);
      layers.push({ zmin: leaf.zmin, height: leaf.height, color: leaf.color, leaves: 0 });
    }
    leaf.layer = layerKeys.get(layerKey);
    layers[leaf.layer].leaves += 1;
    const key = leaf.refs.join(',');
    if (!geometryKeys.has(key)) {
      geometryKeys.set(key, geometryRefs.length);
      geometryRefs.push(leaf.refs);
    }
    leaf.geometry = geometryKeys.get(key);
  }

  const { values, starts } = pool;
  const poolCount = starts.length - 1;
  // Per pool polygon: its distinct point count (0 when unusable), size and signed area; computed
  // once even when several geometries share the polygon.
  const points = new Int32Array(poolCount);
  const size = new Float32Array(poolCount);
  const area = new Float64Array(poolCount);
  const box = new Float32Array(4 * poolCount);
  for (let i = 0; i < poolCount; i += 1) {
    const offset = starts[i];
    const n = pointCount(values, starts[i + 1] - offset, offset);
    let minX = Infinity;
    let minY = Infinity;
    let maxX = -Infinity;
    let maxY = -Infinity;
    for (let k = 0; k < n; k += 1) {
      const x = values[offset + 2 * k];
      const y = values[offset + 2 * k + 1];
      if (x < minX) minX = x;
      if (x > maxX) maxX = x;
      if (y < minY) minY = y;
      if (y > maxY) maxY = y;
    }
    // Polygons with fewer than three points, or with coordinates that are not finite, are skipped.
    if (n < 3 || !(maxX - minX < Infinity && maxY - minY < Infinity)) continue;
    points[i] = n;
    size[i] = Math.max(maxX - minX, maxY - minY);
    area[i] = signedArea2(values, n, offset) / 2;
    box[4 * i] = minX;
    box[4 * i + 1] = minY;
    box[4 * i + 2] = maxX;
    box[4 * i + 3] = maxY;
  }

  const geometryCount = geometryRefs.length;
  progress('laying out geometry', 0, geometryCount);
  const geometryPolygons = new Int32Array(geometryCount + 1);
  let polygonCount = 0;
  let entryCount = 0;
  let capCount = 0;
  let maxPoints = 0;
  const orders = new Array(geometryCount);
  for (let g = 0; g < geometryCount; g += 1) {
    const refs = geometryRefs[g];
    const order = [];
    for (const ref of refs) {
      if (Number.isInteger(ref) && ref >= 0 && ref < poolCount) {
        if (points[ref] >= 3) order.push(ref);
      } else {
        throw new Error(`a part refers to polygon ${ref}, the scene has ${poolCount}`);
      }
    }
    order.sort((p, q) => size[q] - size[p]);
    orders[g] = order;
    geometryPolygons[g] = polygonCount;
    polygonCount += order.length;
    for (const ref of order) {
      entryCount += points[ref] + RING_EXTRA;
      capCount += 3 * (points[ref] - 2);
      if (points[ref] > maxPoints) maxPoints = points[ref];
    }
  }
  geometryPolygons[geometryCount] = polygonCount;
  if (2 * entryCount > 2 ** 31 || capCount > 2 ** 31) throw new Error('the scene is too large to draw');

  const entries = new Float32Array(2 * entryCount);
  const polygonEntries = new Int32Array(polygonCount + 1);
  const polygonCaps = new Int32Array(polygonCount + 1);
  const polygonInfo = new Float32Array(4 * polygonCount); // cx, cy, size, |area|
  const polygonBoxes = new Float32Array(4 * polygonCount);
  const geometryBoxes = new Float32Array(4 * geometryCount);
  const geometryArea = new Float64Array(geometryCount);
  let p = 0;
  let e = 0;
  let c = 0;
  for (let g = 0; g < geometryCount; g += 1) {
    let minX = Infinity;
    let minY = Infinity;
    let maxX = -Infinity;
    let maxY = -Infinity;
    let covered = 0;
    for (const ref of orders[g]) {
      const n = points[ref];
      const offset = starts[ref];
      polygonEntries[p] = e;
      polygonCaps[p] = c;
      const reverse = area[ref] < 0;
      for (let k = 0; k < n; k += 1) {
        const from = reverse ? n - 1 - k : k;
        entries[2 * (e + k)] = values[offset + 2 * from];
        entries[2 * (e + k) + 1] = values[offset + 2 * from + 1];
      }
      entries[2 * (e + n)] = entries[2 * e];
      entries[2 * (e + n) + 1] = entries[2 * e + 1];
      entries[2 * (e + n + 1)] = SENTINEL;
      entries[2 * (e + n + 1) + 1] = SENTINEL;
      const b = 4 * ref;
      for (let k = 0; k < 4; k += 1) polygonBoxes[4 * p + k] = box[b + k];
      polygonInfo[4 * p] = (box[b] + box[b + 2]) / 2;
      polygonInfo[4 * p + 1] = (box[b + 1] + box[b + 3]) / 2;
      polygonInfo[4 * p + 2] = size[ref];
      polygonInfo[4 * p + 3] = Math.abs(area[ref]);
      minX = Math.min(minX, box[b]);
      minY = Math.min(minY, box[b + 1]);
      maxX = Math.max(maxX, box[b + 2]);
      maxY = Math.max(maxY, box[b + 3]);
      covered += Math.abs(area[ref]);
      e += n + RING_EXTRA;
      c += 3 * (n - 2);
      p += 1;
    }
    geometryBoxes[4 * g] = minX;
    geometryBoxes[4 * g + 1] = minY;
    geometryBoxes[4 * g + 2] = maxX;
    geometryBoxes[4 * g + 3] = maxY;
    geometryArea[g] = covered;
    if ((g & 1023) === 1023) progress('laying out geometry', g + 1, geometryCount);
  }
  polygonEntries[polygonCount] = e;
  polygonCaps[polygonCount] = c;
  // The rough caps follow the full ones in the same index buffer.
  progress('simplifying', 0, polygonCount);
  const polygonRough = new Int32Array(polygonCount + 1);
  const keep = new Uint8Array(maxPoints);
  let r = c;
  for (let q = 0; q < polygonCount; q += 1) {
    polygonRough[q] = r;
    const n = polygonEntries[q + 1] - polygonEntries[q] - RING_EXTRA;
    r += 3 * (roughRing(entries, polygonEntries[q], n, polygonInfo[4 * q + 2], keep) - 2);
    if ((q & 65535) === 65535) progress('simplifying', q + 1, polygonCount);
  }
  polygonRough[polygonCount] = r;
  if (r > 2 ** 31) throw new Error('the scene is too large to draw');
  return {
    layers,
    geometryCount,
    geometryPolygons,
    geometryBoxes,
    geometryArea,
    polygonCount,
    polygonEntries,
    polygonCaps,
    polygonRough,
    polygonInfo,
    polygonBoxes,
    entries,
  };
}

// Every placement of every leaf as an instance, in bounding-volume-tree order.
export function buildInstances(leaves, geometry, progress = noProgress) {
  const { geometryPolygons, geometryBoxes, geometryArea, layers } = geometry;
  progress('placing parts', 0, leaves.length);
  let count = 0;
  for (const leaf of leaves) {
    if (geometryPolygons[leaf.geometry + 1] > geometryPolygons[leaf.geometry]) {
      count += Math.max(1, leaf.matrices.length / 6);
    }
  }
  const matrices = new Float64Array(6 * count);
  const boxes = new Float64Array(4 * count);
  const owner = new Int32Array(count);
  let i = 0;
  const placed = new Array(6);
  const own = new Array(6);
  const identity = [1, 0, 0, 0, 1, 0];
  leaves.forEach((leaf, leafIndex) => {
    const g = leaf.geometry;
    if (geometryPolygons[g + 1] === geometryPolygons[g]) return;
    const placements = Math.max(1, leaf.matrices.length / 6);
    const [minX, minY, maxX, maxY] = geometryBoxes.subarray(4 * g, 4 * g + 4);
    const values = leaf.matrices;
    for (let k = 0; k < placements; k += 1) {
      if (values.length) {
        for (let v = 0; v < 6; v += 1) own[v] = values[6 * k + v];
      } else {
        own.splice(0, 6, ...identity);
      }
      multiplyAffine(leaf.affine, own, placed);
      for (let v = 0; v < 6; v += 1) {
        if (!Number.isFinite(placed[v])) throw new Error(`part ${leafIndex}: placement ${k} is not finite`);
        matrices[6 * i + v] = placed[v];
      }
      const [a, b, tx, d, e, ty] = placed;
      // The box of the placed box: per axis, the smaller and larger of each product.
      const ax0 = a * minX;
      const ax1 = a * maxX;
      const by0 = b * minY;
      const by1 = b * maxY;
      const dx0 = d * minX;
      const dx1 = d * maxX;
      const ey0 = e * minY;
      const ey1 = e * maxY;
      boxes[4 * i] = Math.min(ax0, ax1) + Math.min(by0, by1) + tx;
      boxes[4 * i + 1] = Math.min(dx0, dx1) + Math.min(ey0, ey1) + ty;
      boxes[4 * i + 2] = Math.max(ax0, ax1) + Math.max(by0, by1) + tx;
      boxes[4 * i + 3] = Math.max(dx0, dx1) + Math.max(ey0, ey1) + ty;
      owner[i] = leafIndex;
      i += 1;
    }
    if ((leafIndex & 1023) === 1023) progress('placing parts', leafIndex + 1, leaves.length);
  });

  // The centre of the scene, subtracted from every position (in double precision).
  let minX = Infinity;
  let minY = Infinity;
  let maxX = -Infinity;
  let maxY = -Infinity;
  let minZ = Infinity;
  let maxZ = -Infinity;
  for (let k = 0; k < count; k += 1) {
    minX = Math.min(minX, boxes[4 * k]);
    minY = Math.min(minY, boxes[4 * k + 1]);
    maxX = Math.max(maxX, boxes[4 * k + 2]);
    maxY = Math.max(maxY, boxes[4 * k + 3]);
    const layer = layers[leaves[owner[k]].layer];
    minZ = Math.min(minZ, layer.zmin);
    maxZ = Math.max(maxZ, layer.zmin + layer.height);
  }
  const center = count ? [(minX + maxX) / 2, (minY + maxY) / 2] : [0, 0];

  // Boxes relative to the centre, widened by a few float32 steps so that culling stays
  // conservative after rounding.
  const relative = new Float32Array(6 * count);
  for (let k = 0; k < count; k += 1) {
    const layer = layers[leaves[owner[k]].layer];
    const x0 = boxes[4 * k] - center[0];
    const y0 = boxes[4 * k + 1] - center[1];
    const x1 = boxes[4 * k + 2] - center[0];
    const y1 = boxes[4 * k + 3] - center[1];
    const slack = 1e-6 * Math.max(Math.abs(x0), Math.abs(y0), Math.abs(x1), Math.abs(y1), 1e-3);
    relative[6 * k] = x0 - slack;
    relative[6 * k + 1] = y0 - slack;
    relative[6 * k + 2] = layer.zmin;
    relative[6 * k + 3] = x1 + slack;
    relative[6 * k + 4] = y1 + slack;
    relative[6 * k + 5] = layer.zmin + layer.height;
  }
  progress('building the culling tree', 0, 1);
  const bvh = buildBvh(relative, count);

  const records = new Float32Array(INSTANCE_FLOATS * count);
  const radii = new Float32Array(count);
  for (let slot = 0; slot < count; slot += 1) {
    const k = bvh.order[slot];
    const leaf = leaves[owner[k]];
    const g = leaf.geometry;
    const m = 6 * k;
    const a = matrices[m];
    const b = matrices[m + 1];
    const tx = matrices[m + 2];
    const d = matrices[m + 3];
    const e = matrices[m + 4];
    const ty = matrices[m + 5];
    const o = INSTANCE_FLOATS * slot;
    records[o + FIELD.a] = a;
    records[o + FIELD.b] = b;
    records[o + FIELD.tx] = tx - center[0];
    records[o + FIELD.d] = d;
    records[o + FIELD.e] = e;
    records[o + FIELD.ty] = ty - center[1];
    records[o + FIELD.geometry] = g;
    records[o + FIELD.leaf] = owner[k];
    const w = boxes[4 * k + 2] - boxes[4 * k];
    const h = boxes[4 * k + 3] - boxes[4 * k + 1];
    const determinant = a * e - b * d;
    const scale = Math.sqrt(Math.abs(determinant));
    records[o + FIELD.cx] = (boxes[4 * k] + boxes[4 * k + 2]) / 2 - center[0];
    records[o + FIELD.cy] = (boxes[4 * k + 1] + boxes[4 * k + 3]) / 2 - center[1];
    records[o + FIELD.radius] = Math.sqrt(w * w + h * h) / 2;
    records[o + FIELD.fill] = w * h > 0 ? Math.min(1, (geometryArea[g] * Math.abs(determinant)) / (w * h)) : 1;
    records[o + FIELD.layer] = leaf.layer;
    records[o + FIELD.mirrored] = determinant < 0 ? 1 : 0;
    records[o + FIELD.scale] = scale;
    radii[slot] = records[o + FIELD.radius];
  }
  bvh.setRadii(radii);
  return {
    count,
    records,
    center,
    bounds: count ? { min: [minX, minY, minZ], max: [maxX, maxY, maxZ] } : null,
    bvh: bvh.nodes,
  };
}

// The whole preparation: the result's typed arrays are listed in `transfer`. `decoded`: the pool
// already decoded from the message text (message.js), else it is decoded from the message here.
export function prepareScene(message, progress = noProgress, decoded = null) {
  const { root, records, config } = readMessage(message);
  if (!decoded) progress('decoding polygons', 0, records.length);
  const pool = decoded || decodePool(records, progress);
  const { tree, leaves } = flattenTree(root, config);
  const geometry = buildGeometries(leaves, pool, progress);
  const instances = buildInstances(leaves, geometry, progress);
  const counts = { parts: leaves.length, groups: tree.names.length - leaves.length, polygons: 0, placements: 0 };
  const leafLayer = new Int32Array(leaves.length);
  const leafGeometry = new Int32Array(leaves.length);
  leaves.forEach((leaf, i) => {
    const placements = leaf.matrices.length / 6;
    counts.placements += placements;
    counts.polygons += leaf.refs.length * Math.max(1, placements);
    leafLayer[i] = leaf.layer;
    leafGeometry[i] = leaf.geometry;
  });
  counts.distinct = pool.starts.length - 1;
  counts.instances = instances.count;
  const scene = {
    name: String(root.name ?? ''),
    config,
    counts,
    tree,
    leafLayer,
    leafGeometry,
    layers: geometry.layers,
    geometry,
    instances,
  };
  const transfer = [
    tree.parents,
    tree.leafOf,
    leafLayer,
    leafGeometry,
    geometry.geometryPolygons,
    geometry.geometryBoxes,
    geometry.geometryArea,
    geometry.polygonEntries,
    geometry.polygonCaps,
    geometry.polygonRough,
    geometry.polygonInfo,
    geometry.polygonBoxes,
    geometry.entries,
    instances.records,
    ...Object.values(instances.bvh),
  ].map((array) => array.buffer);
  return { scene, transfer };
}
