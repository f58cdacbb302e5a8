#pragma once
// The native trees of the fast route, as tree views (see tree_view.hpp). No Python in here.
//
// GraphView shows the cell graph as the parser's uncombined tree: one reference per cell instance,
// the placed cell's cell instances as its references. CombinedView shows the combined tree built
// from it, and PrunedView that tree pruned to one layer.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "tarnwick/core/depthview/model/cell_graph.hpp"
#include "tarnwick/core/depthview/transform/combine.hpp"
#include "tarnwick/core/depthview/transform/prune.hpp"

namespace tarnwick::depthview::transform {

// A polygon index list of a cell in the graph.
using PolygonList = const std::vector<std::int64_t>*;

inline std::optional<PolygonList> polygons_of(const model::CellContent& cell, std::int64_t layer) {
  for (const auto& [index, refs] : cell.polygons) {
    if (index == layer) return &refs;
  }
  return std::nullopt;
}

class GraphView {
 public:
  struct Node {
    const model::CellContent* cell;
    const model::CellInstance* instance;  // null for a top cell
  };
  using List = PolygonList;

  explicit GraphView(const model::CellGraph& graph) : graph_(graph) {}

  std::vector<Node> tops() const {
    std::vector<Node> result;
    for (const std::int64_t top : graph_.tops) result.push_back({&graph_.cell(top), nullptr});
    return result;
  }
  std::size_t child_count(const Node& node) const { return node.cell->cell_instances.size(); }
  Node child(const Node& node, std::size_t i) const {
    const model::CellInstance& instance = node.cell->cell_instances[i];
    return {&graph_.cell(instance.target), &instance};
  }
  std::int64_t group_key(const Node& node) const { return node.cell->index; }
  bool is_reference(const Node& node) const { return node.instance != nullptr; }
  void placements(const Node& node, std::vector<model::Placement>& out) const {
    if (node.instance != nullptr) node.instance->placements.expand(out);
  }
  // A cell graph read from KLayout has no recursion; a path is at most every cell long.
  std::size_t seen() const { return graph_.cells.size(); }

 private:
  const model::CellGraph& graph_;
};

using NativeCombined = CombinedTree<GraphView>;

class CombinedView {
 public:
  using Node = std::size_t;  // index into the combined tree
  using List = PolygonList;

  explicit CombinedView(const NativeCombined& tree) : tree_(tree) {}

  const NativeCombined& tree() const { return tree_; }
  const model::CellContent& cell(Node node) const { return *tree_.nodes[node].source.cell; }
  std::size_t child_count(Node node) const { return tree_.nodes[node].child_count; }
  Node child(Node node, std::size_t i) const { return tree_.nodes[node].first_child + i; }
  std::int64_t group_key(Node node) const { return cell(node).index; }
  bool is_reference(Node node) const { return tree_.nodes[node].depth > 0; }
  const std::vector<model::Placement>& placements(Node node) const {
    return tree_.nodes[node].placements;
  }
  std::size_t seen() const { return tree_.nodes.size(); }
  template <class F>
  void each_polygon_list(Node node, F&& f) const {
    for (const auto& [layer, refs] : cell(node).polygons) f(layer, PolygonList{&refs});
  }
  bool has_polygons(Node node) const { return !cell(node).polygons.empty(); }
  std::optional<List> polygons_on(Node node, std::int64_t layer) const {
    return polygons_of(cell(node), layer);
  }

 private:
  const NativeCombined& tree_;
};

// Copies of the combined tree pruned to single layers, all in one forest.
class PrunedForest {
 public:
  struct Pruned {
    std::size_t combined;               // the node of the combined tree
    std::int64_t layer;                 // the layer the copy is pruned to
    std::vector<std::size_t> children;  // pruned nodes
  };
  using Node = std::size_t;  // index into the forest
  using List = PolygonList;

  explicit PrunedForest(CombinedView combined) : combined_(combined) {}

  // Adds the copy of the combined node `root` pruned to `layer`; its root when it has content.
  std::optional<Node> add(std::size_t root, std::int64_t layer) {
    auto [copy, content] =
        prune<std::size_t>(combined_, root, layer, [&](std::size_t node, bool, auto kept) {
          nodes_.push_back({node, layer, std::move(kept)});
          return nodes_.size() - 1;
        });
    if (!content) return std::nullopt;
    return copy;
  }

  const CombinedView& combined() const { return combined_; }
  std::size_t combined(Node node) const { return nodes_[node].combined; }
  const model::CellContent& cell(Node node) const { return combined_.cell(combined(node)); }
  const std::vector<model::Placement>& placements(Node node) const {
    return combined_.placements(combined(node));
  }
  std::size_t child_count(Node node) const { return nodes_[node].children.size(); }
  Node child(Node node, std::size_t i) const { return nodes_[node].children[i]; }
  bool is_reference(Node node) const { return combined_.is_reference(combined(node)); }
  std::size_t seen() const { return nodes_.size(); }
  // A pruned copy holds the polygons of its layer only.
  bool has_polygons(Node node) const {
    return polygons_of(cell(node), nodes_[node].layer).has_value();
  }
  std::optional<List> polygons_on(Node node, std::int64_t layer) const {
    if (layer != nodes_[node].layer) return std::nullopt;
    return polygons_of(cell(node), layer);
  }

 private:
  CombinedView combined_;
  std::vector<Pruned> nodes_;
};

}  // namespace tarnwick::depthview::transform
