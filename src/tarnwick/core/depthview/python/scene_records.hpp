#pragma once
// The viewer tree of scene records handed out as records: ViewerData, Parts, Part and Shape.
#include <nanobind/nanobind.h>

#include "tarnwick/core/depthview/python/layer_table.hpp"
#include "tarnwick/core/depthview/python/record_view.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

using RecordViewerTree = write::ViewerTree<RecordView::Node, RecordView::List>;

// The ViewerData of `tree`: ids formed from the names, shapes sharing the records' polygon index
// lists, placement matrices and `pool_polygons` (the polygon pool, each polygon a sequence of (x,
// y)) as new float32 arrays, placement displacements divided by `units_per_micrometre`.
nb::object scene_records(const RecordViewerTree& tree, RecordView& view, const LayerTable& layers,
                         nb::handle pool_polygons, double units_per_micrometre);

// A new one-dimensional numpy float32 array of `size` values that `fill` writes.
nb::object float32_array(std::size_t size, const std::function<void(float*)>& fill);

}  // namespace tarnwick::depthview::python
