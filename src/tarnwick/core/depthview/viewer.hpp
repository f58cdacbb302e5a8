#pragma once
// Viewer conversion: a parse result into the 3D viewer's scene tree (ViewerData), the tree into its
// map form, and the map form into JSON text.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview {

namespace nb = nanobind;

class Parser;

// The scene tree of the parser's parse in the grouping `output` ("/Cells" for Output.CELL,
// "/Layers" for Output.LAYER), combining the mode's references first when that has not been done.
// Shapes share the parser's polygon index lists; polygons and placement matrices are new float32
// arrays, with coordinates and displacements in micrometres. Value error "Unknown output ..." for
// any other value; assertion error without message when the mode's parse is absent.
//
// By layer, a layer gets one node under the root, holding the cell trees of every top cell with
// content on it, in top-cell order, so that node ids stay unique with several top cells.
nb::object to_viewer(Parser& parser, nb::handle output);

// The map form of a scene record, recursively: records become maps in field order without their
// empty list, tuple and map fields; objects with to_dict (KTrans) their to_dict(); lists and tuples
// lists; maps maps; everything else (numpy arrays included) is returned as it is.
nb::object asdict(nb::handle obj);

// Whether asdict leaves a record field with this value out: an empty list, tuple or map.
bool asdict_omits(nb::handle value);

// A new one-dimensional numpy float32 array holding a copy of `size` values.
nb::object float32_vector(const float* values, std::size_t size);

// The JSON text of asdict(data): two-space indentation, numeric arrays as arrays of numbers,
// non-text keys as text, the host's fallback hook for anything else.
nb::str create_json(nb::handle data);

// Whether a layer name matches one of the parser's exclusion patterns (shell-style wildcards,
// whole name, case-insensitive).
bool exclude(Parser& parser, nb::handle layer_name);

}  // namespace tarnwick::depthview
