// The viewer's interface for tests and the curious: its state, the pixels of a frame drawn now,
// where layout points land on screen, the placements of a part, and a promise for the moment
// everything asked for is on screen. Installed as methods of the Viewer (viewer.js).
import { FIELD, INSTANCE_FLOATS } from './records.js';

export const inspection = {
  // State for the page's tests and for the curious.
  inspect() {
    const scene = this.scene;
    const centre = scene ? scene.instances.center : [0, 0];
    const camera = this.camera.camera;
    return {
      state: document.body.dataset.twState,
      name: scene ? scene.name : null,
      counts: scene ? scene.counts : null,
      stats: this.lastStats || null,
      timings: this.timings || null,
      marks: Object.fromEntries(
        performance.getEntriesByType('mark').filter((m) => m.name.startsWith('tw:')).map((m) => [m.name.slice(3), m.startTime / 1000]),
      ),
      frames: this.frames,
      presented: this.presented,
      ortho: this.camera.isOrtho,
      zScale: this.zScale,
      opacity: this.settings.opacity,
      edges: this.edges,
      axes: this.showAxes,
      grid: this.showGrid.slice(),
      up: camera.up.toArray(),
      background: this.background,
      camera: {
        position: [camera.position.x + centre[0], camera.position.y + centre[1], camera.position.z],
        target: [this.camera.controls.target.x + centre[0], this.camera.controls.target.y + centre[1], this.camera.controls.target.z],
        zoom: camera.zoom,
        near: camera.near,
        far: camera.far,
        pixel: this.camera.pixelAtTarget(),
      },
      layers: scene
        ? scene.layers.map(({ name, color, zmin, height, rank }) => ({ name, color, zmin, height, rank }))
        : [],
      visible: this.visible ? Array.from(this.visible) : [],
      measuring: this.measuring,
      measure: this.interaction.measurePoints.map((p) => p.slice()),
    };
  },

  // Resolves with the frame count once nothing is left to draw: no scene loading, no frame
  // asked for, no geometry the view waits for, and the last frame drawn presented on screen (an
  // animation frame has passed since it was drawn). Tests wait for this, never for a time.
  settled() {
    return new Promise((resolve) => {
      const busy = () => this.renderPending || this.waiting.size > 0 || this.loading();
      const check = () => {
        if (busy() || this.presented < this.frames) requestAnimationFrame(check);
        else resolve(this.frames);
      };
      check();
    });
  },

  // The view's pixels from a frame drawn now: RGB bytes, top row first, every `step`-th pixel of
  // every `step`-th row, as base64 text (for tests comparing views).
  snapshot(step = 1) {
    this.draw();
    const gl = this.renderer.gl;
    const { width, height } = this.canvas;
    const rgba = new Uint8Array(4 * width * height);
    gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
    const columns = Math.ceil(width / step);
    const rows = Math.ceil(height / step);
    const rgb = new Uint8Array(3 * columns * rows);
    let k = 0;
    for (let y = 0; y < height; y += step) {
      const row = height - 1 - y;
      for (let x = 0; x < width; x += step) {
        const o = 4 * (row * width + x);
        rgb[k++] = rgba[o];
        rgb[k++] = rgba[o + 1];
        rgb[k++] = rgba[o + 2];
      }
    }
    let text = '';
    for (let i = 0; i < rgb.length; i += 0x8000) text += String.fromCharCode(...rgb.subarray(i, i + 0x8000));
    return { width: columns, height: rows, step, rgb: btoa(text) };
  },

  // The colours [r, g, b] of the view at client points [x, y], from a frame drawn now.
  colorsAt(points) {
    this.draw();
    const gl = this.renderer.gl;
    const rect = this.canvas.getBoundingClientRect();
    const scale = this.canvas.width / rect.width;
    const out = new Uint8Array(4);
    return points.map(([x, y]) => {
      const px = Math.floor((x - rect.left) * scale);
      const py = this.canvas.height - 1 - Math.floor((y - rect.top) * scale);
      gl.readPixels(px, py, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, out);
      return [out[0], out[1], out[2]];
    });
  },

  // The world 2x3 matrices (layout coordinates) of the placements of the leaf with id `id`.
  placements(id) {
    const scene = this.scene;
    const node = scene.tree.ids.indexOf(id);
    if (node < 0) return null;
    const leaf = scene.tree.leafOf[node];
    const { records, count, center } = scene.instances;
    const out = [];
    for (let slot = 0; slot < count; slot += 1) {
      const o = INSTANCE_FLOATS * slot;
      if (records[o + FIELD.leaf] !== leaf) continue;
      out.push([
        records[o + FIELD.a],
        records[o + FIELD.b],
        records[o + FIELD.tx] + center[0],
        records[o + FIELD.d],
        records[o + FIELD.e],
        records[o + FIELD.ty] + center[1],
      ]);
    }
    return out;
  },

  // Client (page) coordinates of a layout point (micrometres), as drawn in the last frame.
  screenPoint([x, y, z]) {
    const centre = this.scene.instances.center;
    const m = this.frameData.viewProjDouble;
    const p = [x - centre[0], y - centre[1], z * this.zScale];
    const clip = [0, 1, 3].map((r) => m[r] * p[0] + m[r + 4] * p[1] + m[r + 8] * p[2] + m[r + 12]);
    const rect = this.canvas.getBoundingClientRect();
    return [rect.left + ((clip[0] / clip[2] + 1) / 2) * rect.width, rect.top + ((1 - clip[1] / clip[2]) / 2) * rect.height];
  },
};
