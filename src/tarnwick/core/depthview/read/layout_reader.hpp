#pragma once
// The one door through which the scene reads a KLayout layout. Plain C++: no Python in here.
//
// Everything the scene needs from KLayout (database unit, layers, cells, top cells, each cell's
// shapes with their hull points and its cell instances with their placements) is asked through this
// interface, in KLayout's own orders, and answered in plain values. Two implementations exist:
// one through KLayout's Python API (always available) and one through KLayout's own C++ classes
// (an optional module, used only when it was built for exactly the KLayout that is loaded).
// Both must give identical answers.
//
// A reader refers to a layout it does not own; the layout must outlive the reader and must not
// change while it is read. Readers are used on one thread. Failures are thrown as C++ exceptions
// (the Python-API reader lets Python errors through as they are).
#include <cstdint>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::read {

struct LayerInfo {
  std::int64_t index;     // the layout's layer index
  std::int64_t layer;     // GDS layer number
  std::int64_t datatype;  // GDS datatype
};

enum class ShapeKind : std::uint8_t {
  polygon,  // anything with a polygon form: polygons, simple polygons, boxes, paths
  text,
  other,  // no polygon form: edges, edge pairs, points, ...
};

// The shapes of one cell on one layer, in the order of KLayout's Shapes.each() (all kinds).
struct ShapeBatch {
  std::vector<ShapeKind> kinds;  // one per shape
  // Per shape, the number of hull points (0 for texts and other kinds).
  std::vector<std::uint32_t> hull_sizes;
  // The hull points of the polygon shapes, in shape order: x0, y0, x1, y1, ... in database
  // units, in hull order, the closing point not repeated (holes are not read).
  std::vector<std::int64_t> coordinates;
  // KLayout's text form of the first shape of kind `other`, for the error message.
  std::string first_other;

  void clear() {
    kinds.clear();
    hull_sizes.clear();
    coordinates.clear();
    first_other.clear();
  }
};

// One cell instance: the placed cell and its placements. A simple cell instance (and a regular
// array of simple placements) has simple placements; a complex one (magnification or a free angle)
// has complex placements, as KLayout's each_cplx_trans gives them.
using CellInstance = model::CellInstance;

class LayoutReader {
 public:
  virtual ~LayoutReader() = default;

  // The layout's database unit in micrometres (0.001 for 1 nm).
  virtual double dbu() = 0;
  // Every layer, in the order of layer_indices().
  virtual std::vector<LayerInfo> layers() = 0;
  // Every cell index, in the order of each_cell().
  virtual std::vector<std::int64_t> cells() = 0;
  // The top cells, in the order of top_cells().
  virtual std::vector<std::int64_t> top_cells() = 0;
  // The cell's name, as UTF-8 text, exactly as KLayout's Python API gives it.
  virtual std::string cell_name(std::int64_t cell) = 0;
  // The cell's shapes on one layer; `batch` is cleared first.
  virtual void shapes(std::int64_t cell, std::int64_t layer, ShapeBatch& batch) = 0;
  // The cell's cell instances in the order of each_inst(); `out` is cleared first.
  virtual void cell_instances(std::int64_t cell, std::vector<CellInstance>& out) = 0;
  // What the stage report shows for this reader, e.g. "python-api" or "direct".
  virtual std::string description() const = 0;
};

}  // namespace tarnwick::depthview::read
