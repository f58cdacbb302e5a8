// The page's camera: perspective or orthographic, orbit controls that zoom towards the cursor, view
// presets, a fit that fills the view, and the per-frame view data for the planner and renderer
// (side planes, eye, direction, pixel size, near and far planes that follow the camera).
//
// Coordinates are the scene's: micrometres relative to the scene centre, z multiplied by the
// z-scale.
import { Matrix4, OrthographicCamera, PerspectiveCamera, Vector3 } from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

const FOV = 40;
// Offset directions (from the target to the camera) of the presets; "top" leans a hair towards -y
// so that orbit controls keep +x to the right and +y up on screen.
export const PRESETS = {
  top: [0, -1e-4, 1],
  bottom: [0, -1e-4, -1],
  front: [0, -1, 0],
  side: [1, 0, 0],
  iso: [1, -1, 1],
};

export class Camera {
  constructor(element, { ortho = true, up = 'Z' } = {}) {
    this.element = element;
    this.perspective = new PerspectiveCamera(FOV, 1, 0.01, 1000);
    this.orthographic = new OrthographicCamera(-1, 1, 1, -1, -1000, 1000);
    this.width = 1;
    this.height = 1;
    this.listeners = new Set();
    this.speeds = { rotate: 1, zoom: 1, pan: 1 };
    this.setUp(up);
    this.camera = ortho ? this.orthographic : this.perspective;
    this.makeControls(new Vector3());
  }

  setUp(up) {
    const axis = String(up).toUpperCase() === 'Y' ? new Vector3(0, 1, 0) : new Vector3(0, 0, 1);
    this.upAxis = axis;
    this.perspective.up.copy(axis);
    this.orthographic.up.copy(axis);
    if (this.controls) this.makeControls(this.controls.target.clone());
  }

  makeControls(target) {
    if (this.controls) this.controls.dispose();
    const controls = new OrbitControls(this.camera, this.element);
    controls.zoomToCursor = true;
    controls.screenSpacePanning = true;
    controls.enableDamping = false;
    controls.rotateSpeed = this.speeds.rotate;
    controls.zoomSpeed = this.speeds.zoom;
    controls.panSpeed = this.speeds.pan;
    controls.target.copy(target);
    controls.addEventListener('change', () => this.changed());
    controls.update();
    this.controls = controls;
  }

  // Speeds of rotating, zooming and panning with the mouse (1 is the usual speed).
  setSpeeds({ rotate = 1, zoom = 1, pan = 1 }) {
    this.speeds = { rotate, zoom, pan };
    Object.assign(this.controls, { rotateSpeed: rotate, zoomSpeed: zoom, panSpeed: pan });
  }

  onChange(listener) {
    this.listeners.add(listener);
  }

  changed() {
    for (const listener of this.listeners) listener();
  }

  get isOrtho() {
    return this.camera === this.orthographic;
  }

  setSize(width, height) {
    this.width = Math.max(1, width);
    this.height = Math.max(1, height);
    const aspect = this.width / this.height;
    this.perspective.aspect = aspect;
    this.perspective.updateProjectionMatrix();
    const half = this.orthographic.userData.half || 1;
    this.orthographic.left = -half * aspect;
    this.orthographic.right = half * aspect;
    this.orthographic.top = half;
    this.orthographic.bottom = -half;
    this.orthographic.updateProjectionMatrix();
  }

  // Switches between orthographic and perspective, keeping what is seen about the same size.
  setOrtho(ortho) {
    if (ortho === this.isOrtho) return;
    const target = this.controls.target.clone();
    const from = this.camera;
    const to = ortho ? this.orthographic : this.perspective;
    const distance = from.position.distanceTo(target);
    const tanHalf = Math.tan((FOV * Math.PI) / 360);
    if (ortho) {
      // The visible half height at the target stays the same.
      const half = (distance * tanHalf) / this.perspective.zoom;
      this.orthographic.userData.half = half;
      this.orthographic.zoom = 1;
      to.position.copy(from.position);
    } else {
      const half = this.orthographic.top / this.orthographic.zoom;
      const wanted = half / tanHalf;
      const direction = from.position.clone().sub(target).normalize();
      to.position.copy(target).addScaledVector(direction, wanted);
      this.perspective.zoom = 1;
    }
    to.quaternion.copy(from.quaternion);
    this.camera = to;
    this.setSize(this.width, this.height);
    this.makeControls(target);
    this.changed();
  }

  // Looks at `bounds` ({min, max} in scene coordinates) from `direction` (offset from the target
  // to the camera; default: the current one) so that it fills the view with a small margin.
  fit(bounds, direction = null) {
    const min = new Vector3(...bounds.min);
    const max = new Vector3(...bounds.max);
    const centre = min.clone().add(max).multiplyScalar(0.5);
    const back = direction
      ? new Vector3(...direction).normalize()
      : this.camera.position.clone().sub(this.controls.target).normalize();
    if (!(back.lengthSq() > 0)) back.set(...PRESETS.iso).normalize();
    // Screen axes for that direction, as lookAt will make them.
    const look = new Matrix4().lookAt(back, new Vector3(), this.upAxis);
    const right = new Vector3().setFromMatrixColumn(look, 0);
    const upward = new Vector3().setFromMatrixColumn(look, 1);
    const corners = [];
    for (const x of [min.x, max.x]) {
      for (const y of [min.y, max.y]) {
        for (const z of [min.z, max.z]) corners.push(new Vector3(x, y, z).sub(centre));
      }
    }
    const aspect = this.width / this.height;
    const margin = 1.03;
    let distance;
    if (this.isOrtho) {
      let halfWidth = 0;
      let halfHeight = 0;
      for (const c of corners) {
        halfWidth = Math.max(halfWidth, Math.abs(c.dot(right)));
        halfHeight = Math.max(halfHeight, Math.abs(c.dot(upward)));
      }
      const half = Math.max(halfHeight, halfWidth / aspect, 1e-6) * margin;
      this.orthographic.userData.half = half;
      this.orthographic.zoom = 1;
      distance = Math.max(max.distanceTo(min), half) * 2;
    } else {
      const tanV = Math.tan((FOV * Math.PI) / 360);
      const tanH = tanV * aspect;
      distance = 1e-6;
      for (const c of corners) {
        const toward = c.dot(back);
        distance = Math.max(
          distance,
          toward + (Math.abs(c.dot(right)) * margin) / tanH,
          toward + (Math.abs(c.dot(upward)) * margin) / tanV,
        );
      }
      this.perspective.zoom = 1;
    }
    this.camera.position.copy(centre).addScaledVector(back, distance);
    this.controls.target.copy(centre);
    this.camera.lookAt(centre);
    this.setSize(this.width, this.height);
    this.controls.update();
    this.changed();
  }

  // The world units per screen pixel at the target.
  pixelAtTarget() {
    const view = this.frame(-1, 1);
    const depth = this.camera.position.distanceTo(this.controls.target);
    return view.pixelA * depth + view.pixelB;
  }

  // The per-frame view data; near and far are given by the caller (from what is in view).
  frame(near, far) {
    const camera = this.camera;
    camera.updateMatrixWorld();
    if (this.isOrtho) {
      camera.near = near;
      camera.far = far;
    } else {
      camera.near = Math.max(near, 1e-7);
      camera.far = Math.max(far, camera.near * 2);
    }
    camera.updateProjectionMatrix();
    const viewProj = new Matrix4().multiplyMatrices(camera.projectionMatrix, camera.matrixWorldInverse);
    const e = viewProj.elements;
    const row = (i) => [e[i], e[i + 4], e[i + 8], e[i + 12]];
    const [r0, r1, , r3] = [row(0), row(1), row(2), row(3)];
    const planes = [];
    for (const [sign, r] of [
      [1, r0],
      [-1, r0],
      [1, r1],
      [-1, r1],
    ]) {
      const plane = r3.map((value, i) => value + sign * r[i]);
      const length = Math.hypot(plane[0], plane[1], plane[2]);
      planes.push(plane.map((value) => value / length));
    }
    const eye = camera.position.toArray();
    const dir = new Vector3(0, 0, -1).transformDirection(camera.matrixWorld).toArray();
    let pixelA = 0;
    let pixelB = 0;
    if (this.isOrtho) {
      pixelB = (camera.top - camera.bottom) / camera.zoom / this.height;
    } else {
      pixelA = (2 * Math.tan((camera.fov * Math.PI) / 360)) / camera.zoom / this.height;
    }
    return {
      viewProj: Float32Array.from(e),
      viewProjDouble: e.slice(),
      inverse: new Matrix4().copy(viewProj).invert().elements.slice(),
      planes,
      eye,
      dir,
      pixelA,
      pixelB,
      ortho: this.isOrtho,
    };
  }

  // The ray (origin, unit direction) through the canvas pixel (x, y) of the last frame.
  ray(frame, x, y) {
    const ndcX = (2 * x) / this.width - 1;
    const ndcY = 1 - (2 * y) / this.height;
    const m = frame.inverse;
    const unproject = (z) => {
      const v = [
        m[0] * ndcX + m[4] * ndcY + m[8] * z + m[12],
        m[1] * ndcX + m[5] * ndcY + m[9] * z + m[13],
        m[2] * ndcX + m[6] * ndcY + m[10] * z + m[14],
      ];
      const w = m[3] * ndcX + m[7] * ndcY + m[11] * z + m[15];
      return v.map((value) => value / w);
    };
    const a = unproject(-1);
    const b = unproject(1);
    const d = b.map((value, i) => value - a[i]);
    const length = Math.hypot(...d);
    return { origin: a, direction: d.map((value) => value / length) };
  }

  dispose() {
    this.controls.dispose();
  }
}
