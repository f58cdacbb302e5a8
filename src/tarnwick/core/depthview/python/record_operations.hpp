#pragma once
// The parser's operations on the scene records it has handed out: reference combination, layer
// extraction and the viewer conversion. Each reads the records as they are now (a caller may have
// edited them) and runs the native operation on them (see record_view.hpp).
#include <nanobind/nanobind.h>

#include "tarnwick/core/depthview/model/grouping.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;
using model::Grouping;

class ParseGDS;

// For Output.CELL combines parsed_cells, for Output.LAYER every tree of parsed_layers, in place,
// sets the mode's combined flag and returns the combined result; for any other value changes
// nothing and returns None. Assertion error without message when the mode's result is absent.
// A top cell's `references` (when not empty) and a surviving reference's `references`, `trans`
// and `trans_count` are replaced by new lists; no record is copied.
nb::object combine_references(ParseGDS& parser, nb::handle output);

// Derives parsed_layers from an uncombined by-cell parse (parsing the cells again when there is
// none or when it has been combined), stores it and combines it on request. The copies share
// polygon index lists and placement lists with the by-cell tree, never records.
nb::object export_layers(ParseGDS& parser, bool combine = true);

// The ViewerData of the parse in the grouping `output`, combining the mode's references first when
// that has not been done. Shapes share the parser's polygon index lists; polygons and placement
// matrices are new float32 arrays, in micrometres. Value error "Unknown output ..." for any other
// value; assertion error without message when the mode's parse is absent.
nb::object to_viewer(ParseGDS& parser, nb::handle output);

}  // namespace tarnwick::depthview::python
