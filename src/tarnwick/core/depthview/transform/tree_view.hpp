#pragma once
// The scene's trees as the operations on them see them. No Python in here.
//
// Combination, layer pruning and the viewer tree are written once, as templates over a tree view,
// and run on two kinds of tree: the native ones (the cell graph seen as one reference per cell
// instance, the combined tree, its per-layer prunings) for the fast route, and the scene records a
// caller holds (Python objects, through the adapter) for the records' own operations.
//
// A tree view `V` offers:
//   using Node = ...;   // a cell or a reference of the tree; cheap to copy
//   using List = ...;   // a handle on one polygon index list of a node
//   std::size_t child_count(const Node&);            // the node's references
//   Node child(const Node&, std::size_t i);
//   std::int64_t group_key(const Node&);             // equal keys: references to the same cell
//   bool is_reference(const Node&);
//   void placements(const Node&, std::vector<model::Placement>& out);  // its own, appended
//   std::size_t seen() const;  // distinct nodes met so far: a deeper path must repeat a node
//   // polygons: for each (layer index, list) entry in order
//   template <class F> void each_polygon_list(const Node&, F&& f);
//   bool has_polygons(const Node&);                  // any entry at all
//   std::optional<List> polygons_on(const Node&, std::int64_t layer);  // the entry of that layer
#include <stdexcept>

namespace tarnwick::depthview::transform {

// A tree whose references lead back to one of their ancestors.
struct RecursiveTree : std::invalid_argument {
  RecursiveTree() : std::invalid_argument("the scene's records contain themselves") {}
};

// A layer index that the layer table does not know (by cell).
struct UnknownLayer : std::out_of_range {
  explicit UnknownLayer(std::int64_t index)
      : std::out_of_range("unknown layer " + std::to_string(index)), index(index) {}
  std::int64_t index;
};

}  // namespace tarnwick::depthview::transform
