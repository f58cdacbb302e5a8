#pragma once
// The viewer's scene tree: its structure decided once for every kind of input tree. No Python in
// here.
//
// By cell, the root holds one node per top cell with visible content; a cell's node holds one part
// per layer of its own polygons (excluded layers left out) and then the nodes of its references
// that have visible content. By layer, the root holds one node per layer (in the order the layers
// are first met, top cell by top cell); it holds each top cell's tree pruned to that layer, every
// cell of it as a node, with one "components" part for a cell that has polygons on the layer.
//
// The tree records what each node stands for (the cell, the layer, the polygon list); names, ids
// and values are filled in by whoever writes or hands out the tree.
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarnwick/core/depthview/transform/tree_view.hpp"

namespace tarnwick::depthview::write {

// One layer of the scene, as the tree builder needs it.
struct LayerEntry {
  std::uint32_t slot = 0;           // the entry's position in its table
  std::int64_t index = 0;           // the layout's layer index
  std::int64_t polygons_index = 0;  // the layer index under which by-layer trees hold its polygons
  bool excluded = false;
};

// Layer look-up of the tree builder. The table fills entries as they are first asked for.
class LayerLookup {
 public:
  virtual ~LayerLookup() = default;
  // The entry of a layer index, or null when the layer map has none.
  virtual const LayerEntry* find(std::int64_t index) = 0;
};

// A by-layer tree that has polygons but none under its layer's key.
struct MissingLayerPolygons : std::out_of_range {
  explicit MissingLayerPolygons(std::int64_t index)
      : std::out_of_range("no polygons under layer " + std::to_string(index)), index(index) {}
  std::int64_t index;
};

template <class Source, class List>
struct ViewerTree {
  enum class Kind : std::uint8_t {
    layer_group,  // by layer: a layer's node under the root
    cell,         // a cell or reference
    layer_part,   // by cell: the polygons of one layer of a cell
    components,   // by layer: the polygons of a cell on the group's layer
  };
  struct Node {
    Kind kind;
    std::uint32_t layer = 0;  // layer_group, layer_part, components: the layer's slot
    Source source{};          // cell, layer_part, components: the cell it stands for
    List refs{};              // layer_part, components
    std::vector<std::uint32_t> children;
  };
  bool by_layer = false;
  std::vector<Node> nodes;           // in the order they were made
  std::vector<std::uint32_t> roots;  // the root's parts, in order

  std::uint32_t add(Node node) {
    nodes.push_back(std::move(node));
    return static_cast<std::uint32_t>(nodes.size() - 1);
  }
};

// A scene whose text would take more bytes than allowed. `bytes` is the count when the walk
// stopped, just past the limit, not the whole scene's size.
struct SceneTooLarge : std::length_error {
  SceneTooLarge(std::uint64_t bytes, std::uint64_t limit)
      : std::length_error("the scene's node names and ids alone would take more than the "
                          "limit of " +
                          (limit >= (1u << 20) ? std::to_string(limit >> 20) + " MiB"
                                               : std::to_string(limit) + " bytes") +
                          " of text; set TARNWICK_MAX_MESSAGE_BYTES to a higher number to "
                          "show it anyway"),
        bytes(bytes),
        limit(limit) {}
  std::uint64_t bytes, limit;
};

// Throws SceneTooLarge when the names and ids of the tree's nodes would take more than `limit`
// bytes of text (with a few hundred bytes of fields per node). A node's id is its parent's id,
// "/" and its name, so the ids of a deep tree grow with the square of its depth: a chain of
// 100,000 cells would need tens of gigabytes. `name_size(node)` is the length of a node's name.
template <class Tree, class NameSize>
void check_text_size(const Tree& tree, std::uint64_t root_id_size, std::uint64_t limit,
                     NameSize&& name_size) {
  constexpr std::uint64_t kFieldsPerNode = 256;
  std::uint64_t total = 0;
  std::vector<std::pair<std::uint32_t, std::uint64_t>> stack;  // node, its parent's id size
  for (const std::uint32_t root : tree.roots) stack.emplace_back(root, root_id_size);
  while (!stack.empty()) {
    const auto [index, parent_size] = stack.back();
    stack.pop_back();
    const auto& node = tree.nodes[index];
    const std::uint64_t name = name_size(node);
    const std::uint64_t id = parent_size + 1 + name;
    total += id + name + kFieldsPerNode;
    if (total > limit) throw SceneTooLarge(total, limit);
    for (const std::uint32_t child : node.children) stack.emplace_back(child, id);
  }
}

// The by-cell tree of the top cells `tops`. UnknownLayer for a layer that `layers` lacks.
template <class View>
ViewerTree<typename View::Node, typename View::List> by_cell(
    View& view, std::span<const typename View::Node> tops, LayerLookup& layers) {
  using Tree = ViewerTree<typename View::Node, typename View::List>;
  Tree tree;
  struct Frame {
    typename View::Node node;
    std::size_t next = 0;
    std::vector<std::uint32_t> parts;
  };
  std::vector<Frame> stack;
  auto enter = [&](const typename View::Node& node) {
    if (stack.size() > view.seen() + 1) throw transform::RecursiveTree();
    Frame frame{node, 0, {}};
    view.each_polygon_list(node, [&](std::int64_t index, const typename View::List& refs) {
      const LayerEntry* layer = layers.find(index);
      if (layer == nullptr) throw transform::UnknownLayer(index);
      if (layer->excluded) return;
      frame.parts.push_back(tree.add({Tree::Kind::layer_part, layer->slot, node, refs, {}}));
    });
    stack.push_back(std::move(frame));
  };
  for (const auto& top : tops) {
    enter(top);
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next < view.child_count(frame.node)) {
        enter(view.child(frame.node, frame.next++));
        continue;
      }
      std::optional<std::uint32_t> made;
      if (!frame.parts.empty()) {
        made = tree.add({Tree::Kind::cell, 0, frame.node, {}, std::move(frame.parts)});
      }
      stack.pop_back();
      if (made) (stack.empty() ? tree.roots : stack.back().parts).push_back(*made);
    }
  }
  return tree;
}

// The by-layer tree. `forest` calls its argument with (layer index, root) for every entry of every
// top cell's layer map, in order. Entries whose layer `layers` lacks or excludes are left out.
template <class View, class Forest>
ViewerTree<typename View::Node, typename View::List> by_layer(View& view, Forest&& forest,
                                                              LayerLookup& layers) {
  using Tree = ViewerTree<typename View::Node, typename View::List>;
  Tree tree;
  tree.by_layer = true;
  std::unordered_map<std::int64_t, std::uint32_t> groups;  // layer index -> its node
  struct Frame {
    typename View::Node node;
    std::size_t next = 0;
    std::vector<std::uint32_t> parts;
  };
  std::vector<Frame> stack;
  forest([&](std::int64_t index, const typename View::Node& root) {
    const LayerEntry* layer = layers.find(index);
    if (layer == nullptr || layer->excluded) return;
    auto enter = [&](const typename View::Node& node) {
      if (stack.size() > view.seen() + 1) throw transform::RecursiveTree();
      Frame frame{node, 0, {}};
      if (view.has_polygons(node)) {
        const auto refs = view.polygons_on(node, layer->polygons_index);
        if (!refs) throw MissingLayerPolygons(layer->polygons_index);
        frame.parts.push_back(tree.add({Tree::Kind::components, layer->slot, node, *refs, {}}));
      }
      stack.push_back(std::move(frame));
    };
    enter(root);
    std::uint32_t made = 0;
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next < view.child_count(frame.node)) {
        enter(view.child(frame.node, frame.next++));
        continue;
      }
      made = tree.add({Tree::Kind::cell, 0, frame.node, {}, std::move(frame.parts)});
      stack.pop_back();
      if (!stack.empty()) stack.back().parts.push_back(made);
    }
    auto [group, fresh] = groups.try_emplace(index, 0);
    if (fresh) {
      group->second = tree.add({Tree::Kind::layer_group, layer->slot, {}, {}, {}});
      tree.roots.push_back(group->second);
    }
    tree.nodes[group->second].children.push_back(made);
  });
  return tree;
}

}  // namespace tarnwick::depthview::write
