#pragma once
// The layout reader that goes through KLayout's Python API, which always works.
//
// Its cost is about a microsecond per API call, so it spends as few calls per shape and per
// cell instance as that API allows: a shape's polygon form is read in one call as KLayout's binary
// polygon form (Polygon.to_bytes) and decoded here; regular arrays are expanded from their vectors
// rather than element by element. Python errors pass through unchanged (nb::python_error).
#include <nanobind/nanobind.h>

#include <unordered_map>

#include "tarnwick/core/depthview/read/layout_reader.hpp"

namespace tarnwick::depthview::read {

namespace nb = nanobind;

class PythonApiReader final : public LayoutReader {
 public:
  // Type error when `layout` is not a klayout.db.Layout.
  explicit PythonApiReader(nb::handle layout);

  double dbu() override;
  std::vector<LayerInfo> layers() override;
  std::vector<std::int64_t> cells() override;
  std::vector<std::int64_t> top_cells() override;
  std::string cell_name(std::int64_t cell) override;
  void shapes(std::int64_t cell, std::int64_t layer, ShapeBatch& batch) override;
  void cell_instances(std::int64_t cell, std::vector<CellInstance>& out) override;
  std::string description() const override { return "python-api"; }

  // The hull of any KLayout polygon object (Polygon, SimplePolygon, or anything offering
  // to_dtype().each_point_hull()) in database units, appended to `coordinates` as x, y pairs.
  // Returns the number of points.
  std::uint32_t polygon_hull(nb::handle polygon, std::vector<std::int64_t>& coordinates);

  // The KLayout cell object of a cell index.
  nb::handle cell_object(std::int64_t cell);

 private:
  nb::object layout_;
  bool polygon_bytes_;  // Polygon.to_bytes is offered by this KLayout
  bool trans_bytes_;    // ICplxTrans.to_bytes is offered by this KLayout
  std::unordered_map<std::int64_t, nb::object> cells_;
};

}  // namespace tarnwick::depthview::read
