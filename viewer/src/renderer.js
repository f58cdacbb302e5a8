// Draws a prepared scene with WebGL2: the scene's arrays live in textures, each layer is drawn with
// a handful of multi-draw calls (caps, walls, dots, outlines; mirrored placements in their own call
// because mirrors reverse triangle winding), and all proxy dots in one call. Counts of what was
// drawn are kept in `stats` for the page's status and the benchmarks.
import { DEPTH_STEP_MIN } from './depth.js';
import { FIELD, INSTANCE_FLOATS } from './records.js';
import * as shaders from './shaders.js';
import { AGGREGATE_PIXELS, CAPS, DOTS, EDGES, WALLS } from './planner.js';

const SHADE_BOTTOM = 0.5;
// Walls: shade = x + y * (normal . light); the light comes from the upper left of a top view and
// is fixed to the layout, so a layout's look does not depend on where it sits.
const WALL_SHADE = [0.66, 0.3];
const LIGHT = [-0.6, 0.8];

function compile(gl, type, source) {
  const shader = gl.createShader(type);
  gl.shaderSource(shader, source);
  gl.compileShader(shader);
  if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS)) {
    throw new Error(`shader does not compile: ${gl.getShaderInfoLog(shader)}`);
  }
  return shader;
}

function program(gl, { vertex, fragment }, attributes = []) {
  const result = gl.createProgram();
  gl.attachShader(result, compile(gl, gl.VERTEX_SHADER, vertex));
  gl.attachShader(result, compile(gl, gl.FRAGMENT_SHADER, fragment));
  attributes.forEach((name, i) => gl.bindAttribLocation(result, i, name));
  gl.linkProgram(result);
  if (!gl.getProgramParameter(result, gl.LINK_STATUS)) {
    throw new Error(`shader program does not link: ${gl.getProgramInfoLog(result)}`);
  }
  const uniforms = {};
  const count = gl.getProgramParameter(result, gl.ACTIVE_UNIFORMS);
  for (let i = 0; i < count; i += 1) {
    const { name } = gl.getActiveUniform(result, i);
    uniforms[name] = gl.getUniformLocation(result, name);
  }
  return { program: result, uniforms };
}

export class Renderer {
  constructor(canvas, { antialias = false } = {}) {
    const gl = canvas.getContext('webgl2', { antialias, alpha: false, preserveDrawingBuffer: false });
    if (!gl) throw new Error('this browser offers no WebGL2');
    this.multiDraw = gl.getExtension('WEBGL_multi_draw');
    if (!this.multiDraw) throw new Error('this browser lacks WEBGL_multi_draw');
    this.gl = gl;
    this.canvas = canvas;
    this.maxTexture = gl.getParameter(gl.MAX_TEXTURE_SIZE);
    this.shift = this.maxTexture >= 8192 ? 13 : 12;
    this.programs = {
      caps: program(gl, shaders.CAPS),
      walls: program(gl, shaders.WALLS),
      dots: program(gl, shaders.DOTS),
      edges: program(gl, shaders.EDGES),
      proxies: program(gl, shaders.PROXIES),
      aggregates: program(gl, shaders.AGGREGATES),
      lines: program(gl, shaders.LINES, ['position', 'color']),
    };
    this.emptyVao = gl.createVertexArray();
    this.lineVao = gl.createVertexArray();
    this.lineBuffer = gl.createBuffer();
    this.textures = {};
    this.stats = { calls: 0, subDraws: 0, triangles: 0, points: 0, lines: 0 };
    this.scene = null;
  }

  // A texture of `count` records of `channels` components, `width` = 2^shift texels per row.
  dataTexture(name, format, data, count) {
    const gl = this.gl;
    const width = 1 << this.shift;
    const rows = Math.max(1, Math.ceil(count / width));
    if (rows > this.maxTexture) throw new Error(`the scene is too large for this GPU (${name})`);
    const [internal, layout, type, channels, Typed] = {
      rg32f: [gl.RG32F, gl.RG, gl.FLOAT, 2, Float32Array],
      rgba32f: [gl.RGBA32F, gl.RGBA, gl.FLOAT, 4, Float32Array],
      r8: [gl.R8, gl.RED, gl.UNSIGNED_BYTE, 1, Uint8Array],
      r32ui: [gl.R32UI, gl.RED_INTEGER, gl.UNSIGNED_INT, 1, Uint32Array],
    }[format];
    if (this.textures[name]) gl.deleteTexture(this.textures[name].texture);
    const texture = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texStorage2D(gl.TEXTURE_2D, 1, internal, width, rows);
    const record = { texture, width, rows, layout, type, channels, Typed };
    this.textures[name] = record;
    if (data) this.updateTexture(name, data, count);
    return record;
  }

  // Writes the first `count` records of `data` into the texture, whole rows at a time.
  updateTexture(name, data, count) {
    const gl = this.gl;
    const { texture, width, rows, layout, type, channels, Typed } = this.textures[name];
    const fullRows = Math.min(rows, Math.floor(count / width));
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.pixelStorei(gl.UNPACK_ALIGNMENT, 1);
    if (fullRows > 0) {
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, 0, width, fullRows, layout, type, data, 0);
    }
    const rest = count - fullRows * width;
    if (rest > 0 && fullRows < rows) {
      const row = new Typed(width * channels);
      row.set(data.subarray(fullRows * width * channels, count * channels));
      gl.texSubImage2D(gl.TEXTURE_2D, 0, 0, fullRows, width, 1, layout, type, row, 0);
    }
  }

  setScene(scene) {
    const gl = this.gl;
    this.disposeScene();
    this.scene = scene;
    const { geometry, instances, layers } = scene;
    this.dataTexture('entries', 'rg32f', geometry.entries, geometry.entries.length / 2);
    this.dataTexture('polygons', 'rgba32f', geometry.polygonInfo, geometry.polygonCount);
    this.dataTexture('instances', 'rgba32f', instances.records, 4 * instances.count);
    this.visible = new Uint8Array(scene.leafLayer.length).fill(255);
    this.dataTexture('visible', 'r8', this.visible, this.visible.length);
    this.ready = new Uint8Array(geometry.geometryCount);
    this.dataTexture('ready', 'r8', this.ready, this.ready.length);
    this.dataTexture('list', 'r32ui', null, 1 << this.shift);
    this.dataTexture('drawBase', 'r32ui', null, 1 << this.shift);
    this.dataTexture('aggregates', 'r32ui', null, 1 << this.shift);
    this.dataTexture('proxies', 'r32ui', null, 1 << this.shift);
    this.dataTexture('nodes', 'rgba32f', nodeRecords(scene), 2 * instances.bvh.radius.length);
    // Layers: texel 0 = (bottom, height, rank, 1), texel 1 = colour (sRGB, 0-1).
    const layerData = new Float32Array(8 * Math.max(1, layers.length));
    layers.forEach((layer, i) => {
      layerData.set([layer.zmin, layer.height, layer.rank, 1], 8 * i);
      layerData.set([...layer.rgb, 1], 8 * i + 4);
    });
    gl.bindTexture(gl.TEXTURE_2D, null);
    const layerTexture = gl.createTexture();
    gl.bindTexture(gl.TEXTURE_2D, layerTexture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA32F, 2, Math.max(1, layers.length), 0, gl.RGBA, gl.FLOAT, layerData);
    this.textures.layers = { texture: layerTexture };
    this.capsBuffer = gl.createBuffer();
    gl.bindVertexArray(this.emptyVao);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.capsBuffer);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, 4 * Math.max(1, geometry.polygonRough[geometry.polygonCount]), gl.STATIC_DRAW);
    gl.bindVertexArray(null);
  }

  disposeScene() {
    const gl = this.gl;
    for (const record of Object.values(this.textures)) gl.deleteTexture(record.texture);
    this.textures = {};
    if (this.capsBuffer) gl.deleteBuffer(this.capsBuffer);
    this.capsBuffer = null;
    this.scene = null;
  }

  // Full and rough cap indices of polygons from `polygon` on, as triangulated by the worker.
  uploadCaps(polygon, full, rough) {
    const gl = this.gl;
    const { polygonCaps, polygonRough } = this.scene.geometry;
    gl.bindVertexArray(this.emptyVao);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.capsBuffer);
    gl.bufferSubData(gl.ELEMENT_ARRAY_BUFFER, 4 * polygonCaps[polygon], full);
    gl.bufferSubData(gl.ELEMENT_ARRAY_BUFFER, 4 * polygonRough[polygon], rough);
    gl.bindVertexArray(null);
  }

  markReady(geometries) {
    for (const g of geometries) this.ready[g] = 255;
    this.updateTexture('ready', this.ready, this.ready.length);
  }

  // visible: per leaf, truthy when shown.
  setVisible(visible) {
    for (let i = 0; i < visible.length; i += 1) this.visible[i] = visible[i] ? 255 : 0;
    this.updateTexture('visible', this.visible, this.visible.length);
  }

  use(key, frame) {
    const gl = this.gl;
    const { program: handle, uniforms } = this.programs[key];
    gl.useProgram(handle);
    gl.uniform1i(uniforms.uShift, this.shift);
    gl.uniformMatrix4fv(uniforms.uViewProj, false, frame.viewProj);
    const textures = {
      uInstances: 'instances',
      uEntries: 'entries',
      uList: 'list',
      uDrawBase: 'drawBase',
      uPolygons: 'polygons',
      uLayers: 'layers',
      uVisible: 'visible',
      uReady: 'ready',
      uNodes: 'nodes',
      uAggregates: 'aggregates',
      uProxies: 'proxies',
    };
    let unit = 0;
    for (const [uniform, name] of Object.entries(textures)) {
      if (uniforms[uniform] === undefined || !this.textures[name]) continue;
      gl.activeTexture(gl.TEXTURE0 + unit);
      gl.bindTexture(gl.TEXTURE_2D, this.textures[name].texture);
      gl.uniform1i(uniforms[uniform], unit);
      unit += 1;
    }
    return uniforms;
  }

  // frame: {viewProj: Float32Array(16), eye, dir, pixelA, pixelB, zScale, plan, background: [r, g, b],
  //         opacity, edges: bool, edgeColor: [r, g, b], lines: [{positions, colors, mode, overlay}],
  //         width, height}
  render(frame) {
    const gl = this.gl;
    const stats = { calls: 0, subDraws: 0, triangles: 0, points: 0, lines: 0 };
    gl.viewport(0, 0, frame.width, frame.height);
    gl.clearColor(...frame.background, 1);
    gl.clearDepth(1);
    gl.depthMask(true);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    gl.enable(gl.DEPTH_TEST);
    gl.depthFunc(gl.LEQUAL);
    gl.bindVertexArray(this.emptyVao);
    const transparent = frame.opacity < 1;
    if (transparent) {
      gl.enable(gl.BLEND);
      gl.blendFuncSeparate(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA, gl.ONE, gl.ONE_MINUS_SRC_ALPHA);
      gl.depthMask(false);
    } else {
      gl.disable(gl.BLEND);
    }
    const scene = this.scene;
    if (scene && scene.instances.count > 0) {
      this.drawProxies(frame, stats);
      this.drawLayers(frame, stats);
    }
    gl.disable(gl.CULL_FACE);
    gl.depthMask(true);
    gl.disable(gl.BLEND);
    for (const lines of frame.lines || []) this.drawLines(frame, lines, stats);
    gl.bindVertexArray(null);
    this.stats = stats;
    return stats;
  }

  drawProxies(frame, stats) {
    const gl = this.gl;
    const { plan } = frame;
    const aggregates = plan.aggregates;
    if (aggregates && aggregates.length) {
      this.updateTexture('aggregates', this.growList('aggregates', aggregates), aggregates.length);
      const uniforms = this.use('aggregates', frame);
      gl.uniform3fv(uniforms.uEye, frame.eye);
      gl.uniform2f(uniforms.uPixel, frame.pixelA, frame.pixelB);
      gl.uniform1f(uniforms.uLargest, plan.aggregatePixels || AGGREGATE_PIXELS);
      gl.uniform3fv(uniforms.uDir, frame.dir);
      gl.uniform1f(uniforms.uZScale, frame.zScale);
      gl.uniform1f(uniforms.uOpacity, frame.opacity);
      gl.uniform1f(uniforms.uRanks, this.scene.maxTieRank ?? 0);
      gl.uniform1f(uniforms.uDepthStep, frame.depthStep ?? DEPTH_STEP_MIN);
      gl.disable(gl.CULL_FACE);
      gl.enable(gl.BLEND);
      gl.blendFuncSeparate(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA, gl.ONE, gl.ONE_MINUS_SRC_ALPHA);
      gl.drawArrays(gl.POINTS, 0, aggregates.length);
      if (frame.opacity >= 1) gl.disable(gl.BLEND);
      stats.calls += 1;
      stats.subDraws += 1;
      stats.points += aggregates.length;
    }
    const proxies = plan.proxies;
    if (!proxies.length) return;
    this.updateTexture('proxies', this.growList('proxies', proxies), proxies.length);
    const uniforms = this.use('proxies', frame);
    gl.uniform3fv(uniforms.uEye, frame.eye);
    gl.uniform3fv(uniforms.uDir, frame.dir);
    gl.uniform2f(uniforms.uPixel, frame.pixelA, frame.pixelB);
    gl.uniform1f(uniforms.uZScale, frame.zScale);
    gl.uniform1f(uniforms.uDetailRadius, frame.plan.detailRadius);
    gl.uniform1f(uniforms.uOpacity, frame.opacity);
    gl.uniform1f(uniforms.uRanks, this.scene.maxTieRank ?? 0);
    gl.uniform1f(uniforms.uDepthStep, frame.depthStep ?? DEPTH_STEP_MIN);
    gl.disable(gl.CULL_FACE);
    gl.drawArrays(gl.POINTS, 0, proxies.length);
    stats.calls += 1;
    stats.subDraws += 1;
    stats.points += proxies.length;
  }

  drawLayers(frame, stats) {
    const gl = this.gl;
    const { plan } = frame;
    const layers = this.scene.layers;
    const list = plan.list;
    const bases = plan.drawBase;
    if (list.length === 0) return;
    this.updateTexture('list', this.growList('list', list), list.length);
    this.updateTexture('drawBase', this.growList('drawBase', bases), bases.length);
    const maxTie = this.scene.maxTieRank ?? 0;
    const order = [...plan.calls];
    if (frame.opacity < 1) {
      // Back to front by layer height, as seen along the view direction.
      const along = (call) => (layers[call.layer].zmin + layers[call.layer].height / 2) * frame.dir[2];
      order.sort((a, b) => along(b) - along(a) || a.kind - b.kind);
    }
    gl.enable(gl.CULL_FACE);
    for (const call of order) {
      const layer = layers[call.layer];
      const z0 = layer.zmin * frame.zScale;
      const z1 = (layer.zmin + layer.height) * frame.zScale;
      const step = frame.depthStep ?? DEPTH_STEP_MIN;
      const topShift = (1 + maxTie - layer.tieTop) * step;
      const bottomShift = (1 + maxTie - layer.tieBottom) * step;
      const shift = (1 + maxTie - Math.max(layer.tieTop, layer.tieBottom)) * step;
      const color = [...layer.rgb, frame.opacity];
      const fromAbove = frame.ortho ? frame.dir[2] <= 0 : frame.eye[2] >= z1;
      const fromBelow = frame.ortho ? frame.dir[2] > 0 : frame.eye[2] < z0;
      const md = this.multiDraw;
      const n = call.firsts.length;
      if (call.kind === CAPS) {
        const uniforms = this.use('caps', frame);
        gl.uniform1i(uniforms.uDrawOffset, call.baseOffset);
        gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, this.capsBuffer);
        const offsets = call.byteOffsets || (call.byteOffsets = call.firsts.map((first) => 4 * first));
        let triangles = 0;
        for (let i = 0; i < n; i += 1) triangles += (call.counts[i] / 3) * call.instanceCounts[i];
        for (const [wanted, z, shade, face, faceShift] of [
          [fromAbove, z1, 1, gl.BACK, topShift],
          [fromBelow, z0, SHADE_BOTTOM, gl.FRONT, bottomShift],
        ]) {
          if (!wanted) continue;
          gl.uniform1f(uniforms.uDepthShift, faceShift);
          // Mirrored placements turn counter-clockwise caps clockwise.
          gl.cullFace(call.mirrored ? (face === gl.BACK ? gl.FRONT : gl.BACK) : face);
          gl.uniform1f(uniforms.uZ, z);
          gl.uniform4fv(uniforms.uColor, shade === 1 ? color : [...shadeColor(layer.rgb, shade), frame.opacity]);
          md.multiDrawElementsInstancedWEBGL(
            gl.TRIANGLES, call.counts, 0, gl.UNSIGNED_INT, offsets, 0, call.instanceCounts, 0, n,
          );
          stats.calls += 1;
          stats.subDraws += n;
          stats.triangles += triangles;
        }
      } else if (call.kind === WALLS) {
        const uniforms = this.use('walls', frame);
        gl.uniform1f(uniforms.uDepthShift, shift);
        gl.uniform1i(uniforms.uDrawOffset, call.baseOffset);
        gl.uniform1f(uniforms.uZ0, z0);
        gl.uniform1f(uniforms.uZ1, z1);
        gl.uniform2fv(uniforms.uLight, LIGHT_UNIT);
        gl.uniform2fv(uniforms.uWallShade, WALL_SHADE);
        gl.uniform4fv(uniforms.uColor, color);
        gl.cullFace(call.mirrored ? gl.FRONT : gl.BACK);
        md.multiDrawArraysInstancedWEBGL(gl.TRIANGLES, call.firsts, 0, call.counts, 0, call.instanceCounts, 0, n);
        stats.calls += 1;
        stats.subDraws += n;
        for (let i = 0; i < n; i += 1) stats.triangles += (call.counts[i] / 3) * call.instanceCounts[i];
      } else {
        const isDots = call.kind === DOTS;
        const uniforms = this.use(isDots ? 'dots' : 'edges', frame);
        if (!isDots && !frame.edges) continue;
        gl.uniform1f(uniforms.uDepthShift, isDots ? topShift : 0);
        gl.uniform1i(uniforms.uDrawOffset, call.baseOffset);
        gl.uniform1f(uniforms.uZ, fromBelow && !fromAbove ? z0 : z1);
        gl.uniform4fv(uniforms.uColor, isDots ? color : [...frame.edgeColor, frame.opacity]);
        md.multiDrawArraysInstancedWEBGL(
          isDots ? gl.POINTS : gl.LINES, call.firsts, 0, call.counts, 0, call.instanceCounts, 0, n,
        );
        stats.calls += 1;
        stats.subDraws += n;
        let elements = 0;
        for (let i = 0; i < n; i += 1) elements += call.counts[i] * call.instanceCounts[i];
        if (isDots) stats.points += elements;
        else stats.lines += elements / 2;
      }
    }
  }

  // A copy of `values` padded to whole texture rows (the texture grows when needed).
  growList(name, values) {
    const record = this.textures[name];
    const capacity = record.width * record.rows;
    if (values.length > capacity) {
      this.dataTexture(name, 'r32ui', null, Math.ceil((values.length * 1.5) / record.width) * record.width);
    }
    return values;
  }

  drawLines(frame, { positions, colors, mode = 'lines', overlay = false }, stats) {
    const gl = this.gl;
    const count = positions.length / 3;
    if (count === 0) return;
    const uniforms = this.use('lines', frame);
    void uniforms;
    gl.bindVertexArray(this.lineVao);
    gl.bindBuffer(gl.ARRAY_BUFFER, this.lineBuffer);
    const data = new Float32Array(7 * count);
    for (let i = 0; i < count; i += 1) {
      data.set(positions.subarray(3 * i, 3 * i + 3), 7 * i);
      data.set(colors.subarray(4 * i, 4 * i + 4), 7 * i + 3);
    }
    gl.bufferData(gl.ARRAY_BUFFER, data, gl.STREAM_DRAW);
    gl.enableVertexAttribArray(0);
    gl.vertexAttribPointer(0, 3, gl.FLOAT, false, 28, 0);
    gl.enableVertexAttribArray(1);
    gl.vertexAttribPointer(1, 4, gl.FLOAT, false, 28, 12);
    if (overlay) gl.disable(gl.DEPTH_TEST);
    else gl.enable(gl.DEPTH_TEST);
    gl.enable(gl.BLEND);
    gl.blendFunc(gl.SRC_ALPHA, gl.ONE_MINUS_SRC_ALPHA);
    gl.drawArrays({ lines: gl.LINES, strip: gl.LINE_STRIP, points: gl.POINTS }[mode], 0, count);
    gl.disable(gl.BLEND);
    gl.enable(gl.DEPTH_TEST);
    stats.calls += 1;
    stats.subDraws += 1;
    stats.lines += mode === 'points' ? 0 : count / 2;
    gl.bindVertexArray(this.emptyVao);
  }

  dispose() {
    this.disposeScene();
    const gl = this.gl;
    for (const { program: handle } of Object.values(this.programs)) gl.deleteProgram(handle);
    gl.deleteBuffer(this.lineBuffer);
    gl.deleteVertexArray(this.emptyVao);
    gl.deleteVertexArray(this.lineVao);
  }
}

const LIGHT_UNIT = (() => {
  const length = Math.hypot(...LIGHT);
  return LIGHT.map((value) => value / length);
})();

// An sRGB colour (0-1) times a shade applied in linear light.
export function shadeColor(rgb, shade) {
  return rgb.map((c) => {
    const linear = c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
    const value = linear * shade;
    return value <= 0.0031308 ? value * 12.92 : 1.055 * value ** (1 / 2.4) - 0.055;
  });
}

// Per node of the culling tree, two texels: the centre of its box, its topmost layer (by top,
// then bottom) and the diagonal of its box; the share of its box that its polygons cover.
export function nodeRecords(scene) {
  const { bvh, records } = scene.instances;
  const { geometryArea } = scene.geometry;
  const nodes = bvh.radius.length;
  const layers = scene.layers;
  const out = new Float32Array(8 * Math.max(1, nodes));
  const higher = (a, b) => {
    if (a < 0) return b;
    if (b < 0) return a;
    const ta = layers[a].zmin + layers[a].height;
    const tb = layers[b].zmin + layers[b].height;
    return tb > ta || (tb === ta && layers[b].zmin > layers[a].zmin) ? b : a;
  };
  const top = new Int32Array(nodes).fill(-1);
  const area = new Float64Array(nodes);
  for (let node = nodes - 1; node >= 0; node -= 1) {
    if (bvh.count[node] > 0) {
      for (let slot = bvh.start[node]; slot < bvh.start[node] + bvh.count[node]; slot += 1) {
        const o = INSTANCE_FLOATS * slot;
        top[node] = higher(top[node], records[o + FIELD.layer]);
        area[node] += geometryArea[records[o + FIELD.geometry]] * records[o + FIELD.scale] * records[o + FIELD.scale];
      }
    } else {
      top[node] = higher(top[node + 1], top[bvh.start[node]]);
      area[node] = area[node + 1] + area[bvh.start[node]];
    }
    const b = 6 * node;
    const width = bvh.box[b + 3] - bvh.box[b];
    const depth = bvh.box[b + 4] - bvh.box[b + 1];
    out[8 * node] = (bvh.box[b] + bvh.box[b + 3]) / 2;
    out[8 * node + 1] = (bvh.box[b + 1] + bvh.box[b + 4]) / 2;
    out[8 * node + 2] = Math.max(0, top[node]);
    out[8 * node + 3] = Math.sqrt(width * width + depth * depth);
    out[8 * node + 4] = width * depth > 0 ? Math.min(1, area[node] / (width * depth)) : 1;
  }
  return out;
}
