#pragma once
// ParseGDS: the layout parser. It walks a KLayout layout's cell hierarchy into the scene records
// (one Cell per top cell, a Reference per instance below it) and keeps every distinct polygon once
// in its pool `instances`; records refer to polygons by their index in that pool.
//
// The parser owns its pool, its layer maps, its cell map and its parsed results; the records it
// hands out share these lists and maps rather than copying them. It reads the layout through
// LayoutAccess and does not own the layout. One parser serves one conversion on one thread.
//
// Units: polygon coordinates are the layout's integer coordinates times its database unit, in
// micrometres (exactly the division by 1000 for a 1 nm unit). Heights are the PDK values times
// z_scale.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "tarnwick/core/depthview/layout_access.hpp"
#include "tarnwick/core/depthview/polygon_pool.hpp"
#include "tarnwick/core/depthview/simplify.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

// Pauses Python's cyclic garbage collector for the life of the object and restores its previous
// state afterwards. The parse and conversion create millions of small, acyclic containers (points,
// polygons, records); without the pause the collector would walk them again and again, which
// costs as much as the work itself. Nothing they create can form a cycle on its own.
class CollectorPause {
 public:
  CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_;
};

class Parser {
 public:
  // Type error when `layout` is not a klayout.db.Layout or `curve_tolerance` is neither None nor
  // a number. `curve_tolerance` None switches simplification off; a number is its tolerance in
  // micrometres. `exclude_layers` None stores a new empty list, a given list is stored itself.
  Parser(nb::handle layout, nb::object layers, double z_scale = 1.0,
         nb::object curve_tolerance = nb::float_(0.01), nb::object exclude_layers = nb::none());

  // --- members, as Python sees them (set in this order by the constructor)
  nb::object layout;
  nb::object layers;  // map LayerSpec -> PdkLayer
  double z_scale;
  nb::object curve_tolerance;  // None or float
  nb::object exclude_layers;   // list of layer-name patterns
  nb::object instances;        // the polygon pool: list of polygons, each a list of (x, y)
  std::int64_t instance_index = 0;
  nb::object parsed_cells = nb::none();
  nb::object parsed_layers = nb::none();
  bool cell_combined = false;
  bool layer_combined = false;
  nb::object layer_map;          // dict: layer index -> (layer, datatype)
  nb::object reverse_layer_map;  // dict: (layer, datatype) -> layer index
  nb::object cell_index_map;     // dict: cell index -> KLayout cell

  // Per-layer look-ups, for a LayerSpec (layer, datatype).
  nb::object get_name(nb::handle layer_spec);
  double get_zmin(nb::handle layer_spec);
  double get_height(nb::handle layer_spec);
  nb::object get_color(nb::handle layer_spec);

  // Fills layer_map and reverse_layer_map from the layout's layers that have properties.
  void extract_layers();
  // One KLayout polygon as a pool polygon: its hull in micrometres, simplified when
  // curve_tolerance is set, never closed. Type error when `polygon` is None (a shape without a
  // polygon form).
  nb::object extract_dpolygon(nb::handle polygon);
  // The Cell of `cell` with everything below it.
  nb::object parse_cells(nb::handle cell);
  // All top cells parsed into a new ParsedCells, stored in parsed_cells; combined on request.
  nb::object export_cells(bool combine = true);

  // {(cell index, layer index, shape position): instance index}, in extraction order. A copy:
  // the parser keeps this map in C++.
  nb::dict instance_mapping() const;

  // The layout's database units per micrometre (1000 for a 1 nm unit): the divisor of every
  // coordinate and placement displacement written into the scene.
  double units_per_micrometre() const { return units_per_micrometre_; }

  // Internal mode of the native scene path, switched on before any polygon is extracted: the
  // parse stores its polygons in a native PolygonPool instead of the Python list `instances`,
  // which then stays empty. Everything else (records, indices, maps) is as in the normal mode.
  // Polygons are simplified one after the other as they are extracted, on the caller's thread,
  // exactly as in the normal mode.
  void use_native_pool();
  // The native pool, or nullptr in the normal mode.
  const PolygonPool* native_pool() const { return native_pool_.get(); }

  // Garbage-collector support for the Python objects the parser holds.
  static int traverse(PyObject* self, visitproc visit, void* arg);
  static int clear(PyObject* self);

 private:
  friend class ParseSession;

  struct ShapeKey {
    std::int64_t cell;
    std::int64_t layer;
    std::int64_t position;
  };
  struct CellLayerHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& key) const {
      return std::hash<std::int64_t>()(key.first * 1000003 + key.second);
    }
  };

  // The points of the pool polygon of a hull in database units: scaled, simplified when asked,
  // not closed. The result lives in a scratch buffer until the next call.
  const Ring& pool_points(const Hull& hull);
  // The same polygon as a Python list of (x, y) tuples.
  nb::object pool_polygon(const Hull& hull);
  // Stores the pool polygon of `hull` in the pool of the parser's mode.
  void store_polygon(const Hull& hull);
  LayoutAccess access_;
  Simplifier simplifier_;
  double units_per_micrometre_;
  Hull hull_;  // scratch buffer of the extraction
  Ring points_;  // scratch buffer of pool_points
  std::unique_ptr<PolygonPool> native_pool_;
  // Instance index per shape position of one cell layer; -1 where no polygon was extracted.
  std::unordered_map<std::pair<std::int64_t, std::int64_t>, std::vector<std::int64_t>,
                     CellLayerHash>
      mapping_;
  std::vector<ShapeKey> keys_;  // the key of each instance index
};

}  // namespace tarnwick::depthview
