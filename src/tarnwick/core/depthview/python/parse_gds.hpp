#pragma once
// ParseGDS, the layout parser as Python sees it: an adapter over the native scene. It reads a
// KLayout layout into the native cell graph and hands out the scene records of the parse (one Cell
// per top cell, a Reference per cell instance below it, every pool polygon once in `instances`).
// Its other operations (combination, layer extraction, viewer conversion) work on the records the
// caller holds, through the same native operations as the fast route.
//
// The parser owns its polygon list, its layer maps, its cell map and its parsed results; records
// it hands out share these lists and maps. One parser serves one conversion on one thread.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <memory>

#include "tarnwick/core/depthview/model/cell_graph.hpp"
#include "tarnwick/core/depthview/read/parse.hpp"
#include "tarnwick/core/depthview/read/python_api_reader.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

class ParseGDS {
 public:
  // Type error when `layout` is not a klayout.db.Layout or `curve_tolerance` is neither None nor
  // a number; value error when `z_scale` or `curve_tolerance` is not finite or the tolerance is
  // negative. `exclude_layers` None stores a new empty list, a given list is stored itself.
  ParseGDS(nb::handle layout, nb::object layers, double z_scale = 1.0,
           nb::object curve_tolerance = nb::float_(0.01), nb::object exclude_layers = nb::none());
  ParseGDS(const ParseGDS&) = delete;
  ParseGDS& operator=(const ParseGDS&) = delete;

  // --- members, as Python sees them (set in this order; their names are public)
  nb::object layout;
  nb::object layers;  // map LayerSpec -> PdkLayer
  double z_scale;
  nb::object curve_tolerance;  // None or float
  nb::object exclude_layers;   // list of layer-name patterns
  nb::object instances;        // the polygon pool: list of polygons, each a list of (x, y)
  nb::object parsed_cells = nb::none();
  nb::object parsed_layers = nb::none();
  bool cell_combined = false;
  bool layer_combined = false;
  nb::object layer_map;          // dict: layer index -> (layer, datatype)
  nb::object reverse_layer_map;  // dict: (layer, datatype) -> layer index
  nb::object cell_index_map;     // dict: cell index -> KLayout cell

  // The pool index the next pool polygon gets.
  std::int64_t instance_index() const { return extraction_.pool.end_index(); }
  // {(cell index, layer index, shape position): pool index}, in extraction order (a copy).
  nb::dict instance_mapping() const;

  nb::object get_name(nb::handle layer_spec);
  double get_zmin(nb::handle layer_spec);
  double get_height(nb::handle layer_spec);
  nb::object get_color(nb::handle layer_spec);

  void extract_layers();
  // One KLayout polygon as a pool polygon: its hull in micrometres, simplified when
  // curve_tolerance is set, never closed.
  nb::object extract_dpolygon(nb::handle polygon);
  // The Cell of `cell` with everything below it.
  nb::object parse_cells(nb::handle cell);
  // All top cells parsed into a new ParsedCells, stored in parsed_cells; combined on request.
  nb::object export_cells(bool combine = true);

  // The layout's database units per micrometre.
  double units_per_micrometre() const { return units_per_micrometre_; }

  static int traverse(PyObject* self, visitproc visit, void* arg);
  static int clear(PyObject* self);

 private:
  // Reads the cells below `tops` into the graph; the new polygons go to `instances`, also when
  // the parse fails.
  model::CellGraph parse(const std::vector<std::int64_t>& tops);
  // The records of the cell `top` of the graph and everything below it.
  nb::object unfold(const model::CellGraph& graph, std::int64_t top);

  read::PythonApiReader reader_;
  read::Extraction extraction_;
  double units_per_micrometre_;
};

}  // namespace tarnwick::depthview::python
