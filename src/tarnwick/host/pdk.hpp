#pragma once
// The active process design kit: get_pdk of tarnwick.core.pdk, and what the modules use of the
// PDK object it returns.
#include <nanobind/nanobind.h>

namespace tarnwick::host {

namespace nb = nanobind;

// get_pdk(): the active PDK, asked afresh at every call.
nb::object get_pdk();
// A new lazy binding of get_pdk, for a module's namespace.
nb::object get_pdk_binding();

namespace pdk {
// pdk.cells: the map from cell name to cell function.
nb::object cells(nb::handle pdk);
// The entry for `name` in pdk.cells when the map holds it, else None.
nb::object cell_function(nb::handle pdk, nb::handle name);
// pdk.get_component(name): the constructed component; failures are raised.
nb::object get_component(nb::handle pdk, nb::handle name);
// pdk.name
nb::object name(nb::handle pdk);
// pdk.layer_stack and pdk.layer_views
nb::object layer_stack(nb::handle pdk);
nb::object layer_views(nb::handle pdk);
}  // namespace pdk

}  // namespace tarnwick::host
