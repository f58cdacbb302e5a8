// The part tree panel: one row per node with a checkbox (checked, unchecked, or mixed when only
// some leaves below are shown), a colour swatch on every row whose leaves share one layer, the
// name, and on layer rows a button that shows that layer alone. Rows are made when their parent
// is opened, so trees with many thousands of parts open at once; a search box lists matching rows
// with their ancestors.
import { element } from './dom.js';

const SEARCH_LIMIT = 500;

export class PartTree {
  // index: PartIndex; visible: Uint8Array per leaf (shared with the viewer); onChange(): called
  // after visibility changed; colors: CSS colour per layer.
  constructor(container, index, visible, { colors, collapse = 3, onChange }) {
    this.container = container;
    this.index = index;
    this.visible = visible;
    this.colors = colors;
    this.onChange = onChange;
    this.rows = new Map(); // node -> {checkbox, children (ul), open}
    this.collapse = collapse;
    const search = element('input', {
      type: 'search',
      id: 'tw-search',
      placeholder: 'search parts…',
      title: 'show the parts whose name contains this text (/)',
    });
    search.addEventListener('input', () => this.render(search.value));
    this.search = search;
    this.list = element('ul', { class: 'tw-root' });
    this.note = element('div', { class: 'tw-tree-note', hidden: '' });
    container.replaceChildren(search, this.note, this.list);
    this.list.addEventListener('click', (event) => this.clicked(event));
    this.list.addEventListener('change', (event) => this.changed(event));
    this.render('');
  }

  render(query) {
    this.rows.clear();
    this.note.hidden = true;
    if (!query.trim()) {
      this.list.replaceChildren(this.row(0, this.collapse));
      this.refresh();
      return;
    }
    const found = this.index.search(query, SEARCH_LIMIT + 1);
    const shown = new Set();
    for (const node of found.slice(0, SEARCH_LIMIT)) {
      for (let n = node; n >= 0 && !shown.has(n); n = this.index.tree.parents[n]) shown.add(n);
    }
    this.list.replaceChildren(...(shown.has(0) ? [this.filteredRow(0, shown)] : []));
    this.note.hidden = false;
    this.note.textContent =
      found.length === 0
        ? 'no part matches'
        : found.length > SEARCH_LIMIT
          ? `the first ${SEARCH_LIMIT} matches`
          : `${found.length} match${found.length === 1 ? '' : 'es'}`;
    this.refresh();
  }

  filteredRow(node, shown) {
    const li = this.row(node, 0);
    const children = this.index.childrenOf(node).filter((child) => shown.has(child));
    if (children.length) {
      const record = this.rows.get(node);
      record.children.replaceChildren(...Array.from(children, (child) => this.filteredRow(child, shown)));
      record.filled = true;
      this.setOpen(node, true);
    }
    return li;
  }

  // The row of `node`, opened `openDepth` levels down.
  row(node, openDepth) {
    const { names, ids, leafOf } = this.index.tree;
    const isLeaf = leafOf[node] >= 0;
    const childCount = this.index.childrenOf(node).length;
    const twisty = element('span', { class: 'tw-twisty', 'data-action': 'open' }, isLeaf || !childCount ? '' : '▸');
    const checkbox = element('input', { type: 'checkbox', title: 'show or hide', 'data-node': String(node) });
    const parts = [twisty, checkbox];
    const layer = this.index.layer[node];
    if (layer >= 0) {
      const swatch = element('span', { class: 'tw-swatch', title: 'layer colour' });
      swatch.style.background = this.colors[layer];
      parts.push(swatch);
    }
    parts.push(element('span', { class: 'tw-name', title: ids[node] }, names[node]));
    if (this.index.isLayerRow(node)) {
      parts.push(
        element(
          'button',
          { type: 'button', class: 'tw-only', 'data-action': 'only', title: 'show only this layer' },
          'only',
        ),
      );
    }
    const children = element('ul', { hidden: '' });
    const li = element('li', { 'data-node': String(node) }, element('div', { class: 'tw-row' }, ...parts), children);
    this.rows.set(node, { checkbox, children, twisty, filled: false, open: false });
    if (!isLeaf && childCount && openDepth > 0 && childCount <= 200) this.setOpen(node, true, openDepth - 1);
    return li;
  }

  setOpen(node, open, openDepth = 0) {
    const record = this.rows.get(node);
    if (!record) return;
    if (open && !record.filled) {
      record.filled = true;
      record.children.replaceChildren(...Array.from(this.index.childrenOf(node), (child) => this.row(child, openDepth)));
      this.refresh();
    }
    record.open = open;
    record.children.hidden = !open;
    if (record.twisty.textContent) record.twisty.textContent = open ? '▾' : '▸';
  }

  // Opens the rows from the root down to `node` and returns its row element.
  reveal(node) {
    const path = [];
    for (let n = this.index.tree.parents[node]; n >= 0; n = this.index.tree.parents[n]) path.push(n);
    for (const n of path.reverse()) this.setOpen(n, true);
    return this.list.querySelector(`li[data-node="${node}"]`);
  }

  clicked(event) {
    const action = event.target.closest('[data-action]');
    if (!action) return;
    const node = Number(action.closest('li').dataset.node);
    if (action.dataset.action === 'open') {
      const record = this.rows.get(node);
      this.setOpen(node, !record.open);
    } else if (action.dataset.action === 'only') {
      this.showOnly(node);
    }
  }

  changed(event) {
    const checkbox = event.target;
    if (checkbox.type !== 'checkbox') return;
    const node = Number(checkbox.dataset.node);
    // A mixed or hidden node shows everything below it; a fully shown node hides it.
    const counts = this.index.visibleCounts(this.visible);
    const all = this.index.leafEnd[node] - this.index.leafStart[node];
    this.setNode(node, counts(node) < all);
  }

  setNode(node, shown) {
    this.visible.fill(shown ? 1 : 0, this.index.leafStart[node], this.index.leafEnd[node]);
    this.refresh();
    this.onChange();
  }

  // Shows only the leaves in the layer of `node` (a layer row); when that is what is shown
  // already, shows everything again.
  showOnly(node) {
    const name = this.index.tree.leafOf[node] >= 0
      ? this.index.layerName(this.index.tree.leafOf[node])
      : this.index.tree.names[node];
    const wanted = new Uint8Array(this.visible.length);
    for (let leaf = 0; leaf < wanted.length; leaf += 1) wanted[leaf] = this.index.layerName(leaf) === name ? 1 : 0;
    const same = wanted.every((value, i) => value === (this.visible[i] ? 1 : 0));
    if (same) this.visible.fill(1);
    else this.visible.set(wanted);
    this.refresh();
    this.onChange();
  }

  showAll() {
    this.visible.fill(1);
    this.refresh();
    this.onChange();
  }

  // Brings the checkboxes of the rows in the DOM up to date with `visible`.
  refresh() {
    const counts = this.index.visibleCounts(this.visible);
    for (const [node, { checkbox }] of this.rows) {
      const all = this.index.leafEnd[node] - this.index.leafStart[node];
      const shown = counts(node);
      checkbox.checked = all > 0 && shown === all;
      checkbox.indeterminate = shown > 0 && shown < all;
    }
  }
}
