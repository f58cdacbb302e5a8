#pragma once
// The one door through which the scene parser reads a KLayout layout.
//
// Everything the parser needs from KLayout (layers, cells, top cells, shapes with their hull
// points, instances with their placements) is asked here, in KLayout's own orders, and answered in
// plain C++ values. This implementation goes through KLayout's Python API, whose cost is about a
// microsecond per call; it spends as few calls per shape and per instance as that API allows. A
// faster path can replace it behind the same functions without touching the parser.
#include <nanobind/nanobind.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/polygon_bytes.hpp"
#include "tarnwick/core/depthview/simple_trans.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

struct LayerEntry {
  std::int64_t index;   // the layout's layer index
  nb::object layer;     // GDS layer number, as KLayout gives it
  nb::object datatype;  // GDS datatype, as KLayout gives it
};

// The placements of one instance, in KLayout's each_trans() order. Simple instances and regular
// arrays of simple placements are computed in C++ (`native`); other kinds (magnified or freely
// rotated placements, irregular arrays) keep the transformation objects KLayout hands out
// (`objects`). Exactly one of the two is used.
struct Placements {
  std::vector<SimpleTrans> native;
  std::vector<nb::object> objects;
  bool is_native = true;
  std::size_t size() const { return is_native ? native.size() : objects.size(); }
};

struct InstanceEntry {
  nb::object cell_index;  // the placed cell's index, as KLayout gives it
  Placements placements;
};

enum class ShapeKind { polygon, text, other };

// Walks the shapes of one cell on one layer, in the order of KLayout's Shapes.each().
class ShapeCursor {
 public:
  ShapeCursor(nb::object iterator, bool polygon_bytes);
  // Moves to the next shape; false when there is none.
  bool next();
  // Position of the current shape among all shapes of the layer (texts included), from 0.
  std::size_t position() const { return position_ - 1; }
  // The current shape's polygon hull, with its kind: texts and shapes without a polygon form
  // (edges, edge pairs, points) leave `hull` empty.
  ShapeKind hull(Hull& hull);
  // KLayout's text form of the current shape, for error messages.
  std::string describe();

 private:
  nb::object iterator_;
  nb::object shape_;
  std::size_t position_ = 0;
  bool polygon_bytes_;
  bool done_ = false;  // KLayout's iterators must not be advanced past their end
};

class LayoutAccess {
 public:
  // Type error when `layout` is not a klayout.db.Layout.
  explicit LayoutAccess(nb::handle layout);

  double dbu();
  // The layers in the order of layer_indices().
  std::vector<LayerEntry> layers();
  // Every cell, in the order of each_cell(), as KLayout cell objects.
  std::vector<nb::object> cells();
  // The top cells, in the order of top_cells().
  std::vector<nb::object> top_cells();
  std::int64_t cell_index(nb::handle cell);
  nb::object cell_name(nb::handle cell);

  ShapeCursor shapes(nb::handle cell, std::int64_t layer);
  // The cell's instances in the order of each_inst(), each with all its placements.
  std::vector<InstanceEntry> instances(nb::handle cell);

  // The hull of a KLayout polygon object (Polygon, SimplePolygon, or anything offering
  // to_dtype().each_point_hull()).
  void polygon_hull(nb::handle polygon, Hull& hull);

 private:
  nb::object layout_;
  bool polygon_bytes_;
};

}  // namespace tarnwick::depthview
