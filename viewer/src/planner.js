// What to draw in one frame, decided on the CPU from the culling tree:
//
// - instances outside the view are skipped, whole subtrees at a time;
// - an instance whose radius on screen is below `detailRadius` pixels is left to the proxy pass
//   (one dot per instance, drawn on the GPU for all instances at once);
// - every other instance is drawn in detail: the polygons of its geometry that are at least a
//   pixel wide get caps (rough ones below FULL_PIXELS) and walls when the layer is at least a
//   pixel high on screen, smaller ones a dot, and polygons at least EDGE_PIXELS wide an outline;
// - at most `budget` instances are drawn in detail, the largest on screen first; the rest stay
//   proxies, so a frame's cost is bounded however far the view is zoomed out;
// - the proxy pass covers only the instances in view, and a subtree whose whole box is a few
//   pixels on screen becomes one dot in the colour of its topmost layer.
//
// Instances in detail are grouped by layer, mirroring, geometry and level so that each group is one
// sub-draw of a multi-draw call with one GPU instance per placement. The near and far planes come
// from the depth range of what is in view.
import { FIELD, INSTANCE_FLOATS } from './records.js';

export const DETAIL_RADIUS = 1;
// Dots per frame (proxies and aggregates) above which subtrees small on screen are drawn as one dot
// each: those whose box spans less than the frame's aggregate size (x + y + z extent, in pixels),
// which is doubled from 2 up to AGGREGATE_PIXELS until the dots fit.
export const POINT_BUDGET = 60000;
export const AGGREGATE_PIXELS = 16;
export const EDGE_PIXELS = 8;
// Polygons at least this many pixels wide get their full caps, smaller ones their rough caps
// (simplify.js: within half a pixel up to 8 pixels).
export const FULL_PIXELS = 8;
export const DEFAULT_BUDGET = 3000;

// Kinds of sub-draw, in drawing order within a layer.
export const CAPS = 0;
export const WALLS = 1;
export const DOTS = 2;
export const EDGES = 3;

export class Planner {
  constructor(scene) {
    this.scene = scene;
    const { geometry, instances } = scene;
    this.records = instances.records;
    this.bvh = instances.bvh;
    this.count = instances.count;
    this.geometryPolygons = geometry.geometryPolygons;
    this.polygonInfo = geometry.polygonInfo;
    this.polygonEntries = geometry.polygonEntries;
    this.polygonCaps = geometry.polygonCaps;
    this.polygonRough = geometry.polygonRough;
    this.layers = scene.layers;
    this.stack = new Int32Array(256);
    this.planes = new Float64Array(24);
    this.proxies = new Uint32Array(1024);
    this.halfHeight = Math.max(0, ...scene.layers.map((layer) => layer.height / 2));
    this.clean = new Uint8Array(this.bvh.radius.length).fill(1);
    this.candidates = new Int32Array(1024);
    this.candidateRadius = new Float32Array(1024);
    this.prefixCache = new Map();
    this.list = new Uint32Array(1024);
    this.drawBase = new Uint32Array(1024);
  }

  // Marks the nodes all of whose instances are visible (visible: per leaf part); only those can be
  // drawn as one dot.
  setVisible(visible) {
    const { count, start } = this.bvh;
    const records = this.records;
    for (let node = this.clean.length - 1; node >= 0; node -= 1) {
      let clean = 1;
      if (count[node] > 0) {
        for (let slot = start[node]; slot < start[node] + count[node] && clean; slot += 1) {
          if (!visible[records[INSTANCE_FLOATS * slot + FIELD.leaf]]) clean = 0;
        }
      } else {
        clean = this.clean[node + 1] & this.clean[start[node]];
      }
      this.clean[node] = clean;
    }
  }

  // The number of polygons of geometry g at least `size` wide (they come first).
  prefix(g, size) {
    const key = g * 64 + Math.max(-31, Math.min(32, Math.log2(size) | 0));
    const cached = this.prefixCache.get(key);
    if (cached !== undefined) return cached;
    const info = this.polygonInfo;
    let low = this.geometryPolygons[g];
    let high = this.geometryPolygons[g + 1];
    const first = low;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (info[4 * mid + 2] >= size) low = mid + 1;
      else high = mid;
    }
    this.prefixCache.set(key, low - first);
    return low - first;
  }

  // view: {planes: [[nx, ny, nz, d] x4] side planes in world units with z already scaled,
  //        eye: [x, y, z], dir: [x, y, z] unit, ortho: bool, pixelA, pixelB (pixel size at depth t is
  //        pixelA * t + pixelB), zScale}
  // state: {visible: Uint8Array per leaf, ready: Uint8Array per geometry, budget}
  plan(view, state) {
    // Start from the last frame's aggregate size, smaller when that frame had few dots.
    let aggregate = this.aggregate || 0;
    const pointBudget = state.pointBudget ?? POINT_BUDGET;
    if (this.lastPoints !== undefined && this.lastPoints < pointBudget / 4) aggregate = aggregate > 2 ? aggregate / 2 : 0;
    let plan = this.planOnce(view, state, aggregate);
    while (plan.proxies.length + plan.aggregates.length > pointBudget && aggregate < AGGREGATE_PIXELS) {
      aggregate = aggregate ? 2 * aggregate : 2;
      plan = this.planOnce(view, state, aggregate);
    }
    this.aggregate = aggregate;
    this.lastPoints = plan.proxies.length + plan.aggregates.length;
    plan.aggregatePixels = aggregate;
    return plan;
  }

  planOnce(view, state, aggregatePixels) {
    const { box, start, count, radius, first, total } = this.bvh;
    // Instances left to the proxy pass (whose shader drops those drawn in detail), and nodes
    // drawn as one dot each.
    let proxies = 0;
    const addProxies = (from, n) => {
      if (proxies + n > this.proxies.length) {
        const grown = new Uint32Array(2 * (proxies + n));
        grown.set(this.proxies.subarray(0, proxies));
        this.proxies = grown;
      }
      for (let k = 0; k < n; k += 1) this.proxies[proxies + k] = from + k;
      proxies += n;
    };
    const aggregates = [];
    const records = this.records;
    const { eye, dir, pixelA, pixelB, zScale } = view;
    const planes = this.planes;
    const planeCount = view.planes.length;
    view.planes.forEach((plane, p) => planes.set(plane, 4 * p));
    const budget = state.budget ?? DEFAULT_BUDGET;
    const visible = state.visible;
    const ready = state.ready;
    let near = Infinity;
    let far = -Infinity;
    let candidates = 0;
    const requested = new Set();
    const depthOf = (x, y, z) => (x - eye[0]) * dir[0] + (y - eye[1]) * dir[1] + (z - eye[2]) * dir[2];
    const pixelAt = (depth) => pixelA * Math.max(depth, 0) + pixelB;
    if (this.count > 0) {
      let top = 0;
      this.stack[top++] = 0;
      while (top > 0) {
        const node = this.stack[--top];
        const b = 6 * node;
        const x0 = box[b];
        const y0 = box[b + 1];
        const z0 = box[b + 2] * zScale;
        const x1 = box[b + 3];
        const y1 = box[b + 4];
        const z1 = box[b + 5] * zScale;
        let inside = true;
        let outside = false;
        for (let p = 0; p < 4 * planeCount; p += 4) {
          const nx = planes[p];
          const ny = planes[p + 1];
          const nz = planes[p + 2];
          const d = planes[p + 3];
          // The box corner farthest along the plane normal, and the nearest.
          const far0 = nx * (nx > 0 ? x1 : x0) + ny * (ny > 0 ? y1 : y0) + nz * (nz > 0 ? z1 : z0) + d;
          if (far0 < 0) {
            outside = true;
            break;
          }
          const near0 = nx * (nx > 0 ? x0 : x1) + ny * (ny > 0 ? y0 : y1) + nz * (nz > 0 ? z0 : z1) + d;
          if (near0 < 0) inside = false;
        }
        if (outside) continue;
        const dMin =
          (dir[0] > 0 ? x0 : x1) * dir[0] + (dir[1] > 0 ? y0 : y1) * dir[1] + (dir[2] > 0 ? z0 : z1) * dir[2] -
          (eye[0] * dir[0] + eye[1] * dir[1] + eye[2] * dir[2]);
        const dMax =
          (dir[0] > 0 ? x1 : x0) * dir[0] + (dir[1] > 0 ? y1 : y0) * dir[1] + (dir[2] > 0 ? z1 : z0) * dir[2] -
          (eye[0] * dir[0] + eye[1] * dir[1] + eye[2] * dir[2]);
        // The nearest any item's sphere can come (items are tested by their spheres below).
        const nodePixel = pixelAt(dMin - radius[node] - this.halfHeight * zScale);
        if (this.clean[node] && (x1 - x0 + y1 - y0 + z1 - z0) / nodePixel < aggregatePixels) {
          // The whole node is about a pixel on screen: one dot for all its items.
          if (dMin < near) near = dMin;
          if (dMax > far) far = dMax;
          aggregates.push(node);
          continue;
        }
        const small = radius[node] / nodePixel < DETAIL_RADIUS;
        if (small && count[node] > 0) {
          // Only proxies here: their depth range is the node's.
          if (dMin < near) near = dMin;
          if (dMax > far) far = dMax;
          addProxies(first[node], total[node]);
          continue;
        }
        if (count[node] > 0) addProxies(start[node], count[node]);
        if (count[node] === 0) {
          if (top + 2 > this.stack.length) {
            const grown = new Int32Array(2 * this.stack.length);
            grown.set(this.stack);
            this.stack = grown;
          }
          this.stack[top++] = start[node];
          this.stack[top++] = node + 1;
          continue;
        }
        for (let slot = start[node]; slot < start[node] + count[node]; slot += 1) {
          const o = INSTANCE_FLOATS * slot;
          if (!visible[records[o + FIELD.leaf]]) continue;
          const cx = records[o + FIELD.cx];
          const cy = records[o + FIELD.cy];
          const r = records[o + FIELD.radius];
          const layer = this.layers[records[o + FIELD.layer]];
          const zLow = layer.zmin * zScale;
          const zHigh = (layer.zmin + layer.height) * zScale;
          const cz = (zLow + zHigh) / 2;
          const rz = Math.sqrt(r * r + 0.25 * (zHigh - zLow) * (zHigh - zLow));
          let out = false;
          for (let p = 0; p < 4 * planeCount; p += 4) {
            if (planes[p] * cx + planes[p + 1] * cy + planes[p + 2] * cz + planes[p + 3] < -rz) {
              out = true;
              break;
            }
          }
          if (out) continue;
          const depth = depthOf(cx, cy, cz);
          if (depth - rz < near) near = depth - rz;
          if (depth + rz > far) far = depth + rz;
          const onScreen = r / pixelAt(depth - rz);
          if (onScreen < DETAIL_RADIUS) continue;
          if (candidates === this.candidates.length) {
            const grownSlots = new Int32Array(2 * candidates);
            grownSlots.set(this.candidates);
            this.candidates = grownSlots;
            const grownRadius = new Float32Array(2 * candidates);
            grownRadius.set(this.candidateRadius);
            this.candidateRadius = grownRadius;
          }
          this.candidates[candidates] = slot;
          this.candidateRadius[candidates] = onScreen;
          candidates += 1;
        }
      }
    }

    // Keep at most the `budget` largest. The proxies take over up to the largest radius left out,
    // so placements of equal size on screen go together, in detail or as proxies.
    let detailRadius = DETAIL_RADIUS;
    let kept = candidates;
    if (candidates > budget) {
      const radii = Float32Array.from(this.candidateRadius.subarray(0, candidates)).sort();
      detailRadius = radii[candidates - budget - 1] * (1 + 1e-6);
      kept = 0;
      for (let i = 0; i < candidates; i += 1) {
        if (this.candidateRadius[i] >= detailRadius) {
          this.candidates[kept] = this.candidates[i];
          this.candidateRadius[kept] = this.candidateRadius[i];
          kept += 1;
        }
      }
    }

    // Group the kept instances: key = layer, mirrored, geometry, level, walls.
    const groups = new Map();
    for (let i = 0; i < kept; i += 1) {
      const slot = this.candidates[i];
      const o = INSTANCE_FLOATS * slot;
      const g = records[o + FIELD.geometry];
      if (!ready[g]) {
        requested.add(g);
        continue;
      }
      const layerIndex = records[o + FIELD.layer];
      const layer = this.layers[layerIndex];
      const cx = records[o + FIELD.cx];
      const cy = records[o + FIELD.cy];
      const cz = (layer.zmin + layer.height / 2) * zScale;
      const pixel = pixelAt(depthOf(cx, cy, cz));
      const level = Math.floor(Math.log2(Math.max(pixel / records[o + FIELD.scale], 1e-30)));
      const tilt = Math.sqrt(Math.max(0, 1 - dir[2] * dir[2]));
      const walls = (layer.height * zScale * tilt) / pixel >= 1 ? 1 : 0;
      const key = `${layerIndex}|${records[o + FIELD.mirrored]}|${g}|${level}|${walls}`;
      let group = groups.get(key);
      if (!group) {
        group = { layer: layerIndex, mirrored: records[o + FIELD.mirrored], g, level, walls, slots: [] };
        groups.set(key, group);
      }
      group.slots.push(slot);
    }

    // Instance list in group order, and the sub-draws of each call.
    const ordered = [...groups.values()].sort((a, b) => a.layer - b.layer || a.mirrored - b.mirrored);
    if (this.list.length < kept) this.list = new Uint32Array(2 * kept);
    const calls = new Map();
    const call = (layer, mirrored, kind) => {
      const key = (layer * 2 + mirrored) * 4 + kind;
      let entry = calls.get(key);
      if (!entry) {
        entry = { layer, mirrored, kind, firsts: [], counts: [], instanceCounts: [], bases: [] };
        calls.set(key, entry);
      }
      return entry;
    };
    let listed = 0;
    for (const group of ordered) {
      const base = listed;
      for (const slot of group.slots) this.list[listed++] = slot;
      const n = group.slots.length;
      const g = group.g;
      const p0 = this.geometryPolygons[g];
      const p1 = this.geometryPolygons[g + 1];
      const size = 2 ** group.level;
      const k = this.prefix(g, size);
      const kFull = this.prefix(g, size * FULL_PIXELS);
      const ke = this.prefix(g, size * EDGE_PIXELS);
      const add = (kind, first, length) => {
        if (length <= 0) return;
        const entry = call(group.layer, group.mirrored, kind);
        entry.firsts.push(first);
        entry.counts.push(length);
        entry.instanceCounts.push(n);
        entry.bases.push(base);
      };
      add(CAPS, this.polygonCaps[p0], this.polygonCaps[p0 + kFull] - this.polygonCaps[p0]);
      add(CAPS, this.polygonRough[p0 + kFull], this.polygonRough[p0 + k] - this.polygonRough[p0 + kFull]);
      if (group.walls) {
        add(WALLS, 6 * this.polygonEntries[p0], 6 * (this.polygonEntries[p0 + k] - this.polygonEntries[p0]));
      }
      add(DOTS, p0 + k, p1 - p0 - k);
      add(EDGES, 2 * this.polygonEntries[p0], 2 * (this.polygonEntries[p0 + ke] - this.polygonEntries[p0]));
    }
    let bases = 0;
    for (const entry of calls.values()) bases += entry.bases.length;
    if (this.drawBase.length < bases) this.drawBase = new Uint32Array(2 * bases);
    let offset = 0;
    const drawCalls = [...calls.values()].sort(
      (a, b) => a.layer - b.layer || a.kind - b.kind || a.mirrored - b.mirrored,
    );
    for (const entry of drawCalls) {
      entry.baseOffset = offset;
      this.drawBase.set(entry.bases, offset);
      offset += entry.bases.length;
      entry.firsts = Int32Array.from(entry.firsts);
      entry.counts = Int32Array.from(entry.counts);
      entry.instanceCounts = Int32Array.from(entry.instanceCounts);
    }
    if (this.prefixCache.size > 1e6) this.prefixCache.clear();
    return {
      near,
      far,
      proxies: this.proxies.subarray(0, proxies),
      aggregates: Uint32Array.from(aggregates),
      detailRadius,
      detailed: listed,
      candidates,
      list: this.list.subarray(0, listed),
      drawBase: this.drawBase.subarray(0, offset),
      calls: drawCalls,
      requested: [...requested],
    };
  }
}
