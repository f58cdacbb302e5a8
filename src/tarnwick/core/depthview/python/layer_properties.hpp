#pragma once
// Layer properties: the PDK's layer stack and layer views condensed into PdkLayer records.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview::python {

namespace nb = nanobind;

// A new dict from (layer, datatype) to PdkLayer(name, thickness, zmin, color), one entry per level
// of `layer_stack.layers` (in the stack's order) that resolves to a LayerEnum with a layer view
// that has a fill colour. A derived level takes its `derived_layer`; a later level on the same
// (layer, datatype) replaces an earlier one in place. Levels that cannot be resolved are left out
// silently; a level whose `layer` is neither a DerivedLayer nor a LogicalLayer raises
// TypeError("Unknown type <type>"). Neither input is changed; errors raised by the inputs' own
// members propagate unchanged.
nb::dict get_layer_properties(nb::handle layer_stack, nb::handle layer_views);

}  // namespace tarnwick::depthview::python
