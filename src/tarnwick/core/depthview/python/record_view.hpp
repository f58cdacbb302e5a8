#pragma once
// The scene records a caller holds (Cell and Reference records, Python objects) as a tree view
// (see transform/tree_view.hpp), so that combination, layer pruning and the viewer tree run on
// them exactly as on the native trees. What the records hold now is what is read: a caller may
// have edited them.
//
// Nodes and lists are Python objects that the view keeps alive for its own life.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

class RecordView {
 public:
  using Node = PyObject*;  // a Cell or Reference record
  using List = PyObject*;  // a polygon index list of a record

  std::size_t child_count(Node node) { return children(node).size(); }
  Node child(Node node, std::size_t i) { return children(node)[i]; }
  // References to equal cell indices (Python equality) are the same cell.
  std::int64_t group_key(Node node);
  bool is_reference(Node node) const;
  // The reference's `trans`, each a KTrans. Type error for anything else.
  void placements(Node node, std::vector<model::Placement>& out);
  std::size_t seen() const { return seen_.size(); }

  // polygons: {layer id text: polygon index list}
  template <class F>
  void each_polygon_list(Node node, F&& f) {
    for (const auto& [index, list] : polygon_entries(node)) f(index, List{list});
  }
  bool has_polygons(Node node);
  // The entry of the layer index (its decimal text as key).
  std::optional<List> polygons_on(Node node, std::int64_t layer);
  // The entry of a key as given.
  std::optional<List> polygons_on(Node node, nb::handle key);

  // Keeps `object` alive as long as the view; returns it.
  PyObject* hold(nb::object object);

 private:
  const std::vector<Node>& children(Node node);
  std::vector<std::pair<std::int64_t, PyObject*>> polygon_entries(Node node);

  std::vector<nb::object> held_;
  std::unordered_map<Node, std::vector<Node>> children_;
  std::unordered_set<Node> seen_;
  nb::dict keys_;  // cell index -> its group key
};

}  // namespace tarnwick::depthview::python
