// Loads glTF files with three.js's GLTFLoader in the browser, for the export tests: what a viewer
// built on three.js draws of a file (triangles, extent, where each placement puts a point).
import { Box3, Matrix4, Vector3 } from 'three';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';

let loaded = null;

// Every drawn copy of every mesh below `root`: the mesh and its world matrix.
function drawn(root) {
  const copies = [];
  root.updateMatrixWorld(true);
  root.traverse((object) => {
    if (!object.isMesh) return;
    const count = object.isInstancedMesh ? object.count : 1;
    for (let i = 0; i < count; i += 1) {
      const world = new Matrix4();
      if (object.isInstancedMesh) {
        object.getMatrixAt(i, world);
        world.premultiply(object.matrixWorld);
      } else {
        world.copy(object.matrixWorld);
      }
      copies.push({ mesh: object, world });
    }
  });
  return copies;
}

window.gltfCheck = {
  load(base64) {
    const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    return new Promise((resolve, reject) => {
      new GLTFLoader().parse(bytes.buffer, '', (gltf) => {
        loaded = gltf;
        resolve(true);
      }, (error) => reject(new Error(String(error && error.message ? error.message : error))));
    });
  },
  // Triangles drawn (every copy counted) and the world box of every vertex drawn.
  summary() {
    const box = new Box3();
    const point = new Vector3();
    let triangles = 0;
    for (const { mesh, world } of drawn(loaded.scene)) {
      const positions = mesh.geometry.attributes.position;
      triangles += (mesh.geometry.index ? mesh.geometry.index.count : positions.count) / 3;
      for (let k = 0; k < positions.count; k += 1) {
        box.expandByPoint(point.fromBufferAttribute(positions, k).applyMatrix4(world));
      }
    }
    return { triangles, min: box.min.toArray(), max: box.max.toArray() };
  },
  // The world positions of mesh-local `points` ([x, y, z]) for every copy drawn below the node
  // reached by the names `path` (as the loader has them) from the scene's root.
  placed(path, points) {
    let node = loaded.scene;
    for (const name of path) {
      // The loader makes names unique across the file by appending _1, _2, ...
      node = node.children.find((child) => child.name === name || child.name.startsWith(`${name}_`));
      if (!node) throw new Error(`no node ${name}`);
    }
    return drawn(node).map(({ world }) => points.map((p) => new Vector3(...p).applyMatrix4(world).toArray()));
  },
};
