// The pointer on the view: a click picks a shape (or, with the distance tool on, places a
// measuring point), a move updates the coordinate readout. Works on the viewer's camera and the
// scene of its last frame.
import { pick, placedBox, placedOutline } from './pick.js';
import { FIELD, recordOffset } from './records.js';

const CLICK_PIXELS = 4;

export class Interaction {
  constructor(viewer) {
    this.viewer = viewer;
    this.measuring = false;
    this.measurePoints = [];
    this.selection = null;
    this.pointer = null;
    this.readoutPending = false;
    const canvas = viewer.canvas;
    canvas.addEventListener('pointerdown', (event) => this.pointerDown(event));
    canvas.addEventListener('pointerup', (event) => this.pointerUp(event));
    canvas.addEventListener('pointermove', (event) => this.pointerMove(event));
    canvas.addEventListener('pointerleave', () => viewer.page.showCoordinates(null));
  }

  // A new scene: nothing picked or measured.
  reset() {
    this.selection = null;
    this.measurePoints = [];
    this.viewer.page.showSelection(null);
    this.viewer.page.showMeasure(null);
  }

  canvasPoint(event) {
    const rect = this.viewer.canvas.getBoundingClientRect();
    return [event.clientX - rect.left, event.clientY - rect.top];
  }

  // What lies under the canvas point (x, y): the picked polygon, or the point on the plane z = 0.
  hitAt(x, y) {
    const { scene, frameData, camera, visible, zScale } = this.viewer;
    if (!scene || !frameData) return null;
    const ray = camera.ray(frameData, x, y);
    const hit = pick(scene, ray, { visible, zScale });
    if (hit) return hit;
    if (ray.direction[2] === 0) return null;
    const t = -ray.origin[2] / ray.direction[2];
    if (!(t >= 0)) return null;
    return { point: ray.origin.map((value, i) => value + t * ray.direction[i]), plane: true };
  }

  // Scene coordinates to layout coordinates (micrometres, z without the z-scale).
  layoutPoint(point) {
    const centre = this.viewer.scene.instances.center;
    return [point[0] + centre[0], point[1] + centre[1], point[2] / this.viewer.zScale];
  }

  pointerDown(event) {
    this.pointer = { x: event.clientX, y: event.clientY, button: event.button };
  }

  pointerUp(event) {
    const down = this.pointer;
    this.pointer = null;
    if (!down || down.button !== 0) return;
    if (Math.hypot(event.clientX - down.x, event.clientY - down.y) > CLICK_PIXELS) return;
    this.clickAt(...this.canvasPoint(event));
  }

  clickAt(x, y) {
    const hit = this.hitAt(x, y);
    if (this.measuring) {
      if (!hit) return;
      if (this.measurePoints.length >= 2) this.measurePoints = [];
      this.measurePoints.push(this.layoutPoint(hit.point));
      this.viewer.page.showMeasure(this.measurePoints);
      this.viewer.requestRender();
      return;
    }
    this.select(hit && !hit.plane ? hit : null);
  }

  select(hit) {
    const viewer = this.viewer;
    if (!hit) {
      this.selection = null;
      viewer.page.showSelection(null);
      viewer.requestRender();
      return;
    }
    const box = placedBox(viewer.scene, hit.slot, hit.polygon);
    const centre = viewer.scene.instances.center;
    const node = viewer.index.leafNode[hit.leaf];
    this.selection = { slot: hit.slot, polygon: hit.polygon, leaf: hit.leaf };
    viewer.page.showSelection({
      id: viewer.scene.tree.ids[node],
      node,
      cells: viewer.index.cellPath(hit.leaf),
      layer: viewer.index.layerName(hit.leaf),
      min: [box.min[0] + centre[0], box.min[1] + centre[1], box.min[2]],
      max: [box.max[0] + centre[0], box.max[1] + centre[1], box.max[2]],
    });
    viewer.requestRender();
  }

  pointerMove(event) {
    if (this.readoutPending || !this.viewer.scene) return;
    this.readoutPending = true;
    const point = this.canvasPoint(event);
    requestAnimationFrame(() => {
      this.readoutPending = false;
      const hit = this.hitAt(...point);
      this.viewer.page.showCoordinates(hit ? { point: this.layoutPoint(hit.point), onPlane: Boolean(hit.plane) } : null);
    });
  }

  setMeasuring(on) {
    this.measuring = on;
    if (!on) this.measurePoints = [];
    this.viewer.canvas.classList.toggle('tw-measuring', on);
    this.viewer.page.showMeasure(on ? this.measurePoints : null);
    this.viewer.requestRender();
  }

  // The picked outline and the measurement as helper lines, in scene coordinates.
  lines() {
    const { scene, zScale } = this.viewer;
    const lines = [];
    if (this.selection) {
      const { slot, polygon } = this.selection;
      const layer = scene.layers[scene.instances.records[recordOffset(slot) + FIELD.layer]];
      const positions = placedOutline(scene, slot, polygon, (layer.zmin + layer.height) * zScale);
      const colors = new Float32Array((positions.length / 3) * 4);
      for (let i = 0; i < colors.length; i += 4) colors.set([1, 0.84, 0, 1], i);
      lines.push({ positions, colors, overlay: true });
    }
    if (this.measurePoints.length) {
      const centre = scene.instances.center;
      const points = this.measurePoints.map(([x, y, z]) => [x - centre[0], y - centre[1], z * zScale]);
      const colors = points.flatMap(() => [0.9, 0.1, 0.5, 1]);
      lines.push({ positions: Float32Array.from(points.flat()), colors: Float32Array.from(colors), mode: 'points', overlay: true });
      if (points.length === 2) {
        lines.push({ positions: Float32Array.from(points.flat()), colors: Float32Array.from(colors), overlay: true });
      }
    }
    return lines;
  }
}
