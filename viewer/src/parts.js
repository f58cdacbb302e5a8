// What the page knows about the part tree apart from its DOM: children lists, the leaves below each
// node (a contiguous range, because nodes and leaves are numbered depth first), each node's layer
// when all its leaves share one, the layer name and cell path of each leaf, and sibling order with
// layer rows in height order (highest first). Pure data: tested in node.

export class PartIndex {
  // tree: {names, ids, colors, parents, leafOf} as made by prepare.js; leafLayer: layer per leaf;
  // layers: [{zmin, height}]
  constructor(tree, leafLayer, layers) {
    const { names, parents, leafOf } = tree;
    const count = names.length;
    this.tree = tree;
    this.count = count;
    this.leafLayer = leafLayer;
    this.layers = layers;
    // Leaf ranges: preorder numbering makes every subtree a contiguous run of nodes and of leaves.
    this.leafStart = new Int32Array(count);
    this.leafEnd = new Int32Array(count);
    this.depth = new Int32Array(count);
    this.layer = new Int32Array(count).fill(-2); // -2: no leaves, -1: several layers
    let leaves = 0;
    for (let i = 0; i < count; i += 1) {
      this.leafStart[i] = leaves;
      if (leafOf[i] >= 0) leaves += 1;
      this.depth[i] = parents[i] >= 0 ? this.depth[parents[i]] + 1 : 0;
    }
    for (let i = count - 1; i >= 0; i -= 1) {
      if (leafOf[i] >= 0) {
        this.leafEnd[i] = this.leafStart[i] + 1;
        this.layer[i] = leafLayer[leafOf[i]];
      } else if (this.leafEnd[i] === 0) {
        this.leafEnd[i] = this.leafStart[i];
      }
      const parent = parents[i];
      if (parent >= 0) {
        this.leafEnd[parent] = Math.max(this.leafEnd[parent], this.leafEnd[i]);
        const mine = this.layer[i];
        const theirs = this.layer[parent];
        if (theirs === -2) this.layer[parent] = mine;
        else if (mine !== -2 && mine !== theirs) this.layer[parent] = -1;
      }
    }
    // Children in display order.
    const childCount = new Int32Array(count + 1);
    for (let i = 1; i < count; i += 1) childCount[parents[i] + 1] += 1;
    for (let i = 0; i < count; i += 1) childCount[i + 1] += childCount[i];
    this.childStart = childCount;
    this.children = new Int32Array(Math.max(0, count - 1));
    const fill = childCount.slice(0, count);
    for (let i = 1; i < count; i += 1) this.children[fill[parents[i]]++] = i;
    for (let i = 0; i < count; i += 1) this.sortChildren(i);
    // Layer name and cell path of each leaf.
    this.leafNode = new Int32Array(leafLayer.length);
    for (let i = 0; i < count; i += 1) if (leafOf[i] >= 0) this.leafNode[leafOf[i]] = i;
  }

  // A layer row: a leaf, or a node right under the root whose leaves all lie in one layer (the
  // layer nodes of a scene grouped by layer).
  isLayerRow(node) {
    return this.tree.leafOf[node] >= 0 || (this.depth[node] === 1 && this.layer[node] >= 0);
  }

  sortChildren(node) {
    const from = this.childStart[node];
    const to = this.childStart[node + 1];
    if (to - from < 2) return;
    const rows = Array.from(this.children.subarray(from, to));
    const height = (n) => {
      const layer = this.layers[this.layer[n]];
      return layer ? [layer.zmin + layer.height, layer.zmin] : [-Infinity, -Infinity];
    };
    const keyed = rows.map((n, position) => ({ n, position, layerRow: this.isLayerRow(n), h: height(n) }));
    keyed.sort((a, b) => {
      if (a.layerRow !== b.layerRow) return a.layerRow ? -1 : 1;
      if (a.layerRow) return b.h[0] - a.h[0] || b.h[1] - a.h[1] || a.position - b.position;
      return a.position - b.position;
    });
    keyed.forEach((entry, i) => {
      this.children[from + i] = entry.n;
    });
  }

  childrenOf(node) {
    return this.children.subarray(this.childStart[node], this.childStart[node + 1]);
  }

  // The layer name of a leaf: its own name, or, for the "components" leaves of a scene grouped by
  // layer, the name of its layer node.
  layerName(leaf) {
    const { names, parents } = this.tree;
    let node = this.leafNode[leaf];
    if (names[node] !== 'components') return names[node];
    while (node >= 0 && this.depth[node] > 1) node = parents[node];
    return node >= 0 ? names[node] : '';
  }

  // The cells above a leaf, outermost first, without the root and the layer node.
  cellPath(leaf) {
    const { names, parents } = this.tree;
    const node = this.leafNode[leaf];
    const byLayer = names[node] === 'components';
    const path = [];
    for (let n = parents[node]; n >= 0 && this.depth[n] > (byLayer ? 1 : 0); n = parents[n]) path.push(names[n]);
    return path.reverse();
  }

  // The number of visible leaves below each node, from a per-leaf visibility array.
  visibleCounts(visible) {
    const prefix = new Int32Array(visible.length + 1);
    for (let i = 0; i < visible.length; i += 1) prefix[i + 1] = prefix[i] + (visible[i] ? 1 : 0);
    return (node) => prefix[this.leafEnd[node]] - prefix[this.leafStart[node]];
  }

  // Nodes whose name contains `text` (case-insensitive), in display order, at most `limit`.
  search(text, limit = 500) {
    const wanted = text.trim().toLowerCase();
    const found = [];
    if (!wanted) return found;
    const stack = [0];
    while (stack.length && found.length < limit) {
      const node = stack.pop();
      if (this.tree.names[node].toLowerCase().includes(wanted)) found.push(node);
      const children = this.childrenOf(node);
      for (let i = children.length - 1; i >= 0; i -= 1) stack.push(children[i]);
    }
    return found;
  }
}
