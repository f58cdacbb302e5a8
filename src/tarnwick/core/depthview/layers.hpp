#pragma once
// Layer extraction: the by-layer form of a parse, one copy of each top cell's tree per layer,
// pruned to that layer.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview {

namespace nb = nanobind;

class Parser;

// Derives parsed_layers from an uncombined by-cell parse (parsing the cells again when there is
// none or when it has been combined), stores it and, when `combine` is true, combines it. The
// copies share polygon index lists and placement lists with the by-cell tree, never records.
nb::object export_layers(Parser& parser, bool combine = true);

// The copy of `cell` (a Cell or Reference) pruned to `layer_id`: a new record of the same kind
// whose `polygons` holds only that layer's list (the same list object) and whose `references` keep
// only the pruned children with content; a Reference's copy shares its `trans` list.
nb::object filter_by_layer(nb::handle cell, nb::handle layer_id);

}  // namespace tarnwick::depthview
