#include "tarnwick/host/pdk.hpp"

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host {

nb::object get_pdk() { return bindings::pdk.operation("get_pdk")(); }

nb::object get_pdk_binding() { return lazy_import(bindings::pdk.module(), "get_pdk"); }

namespace pdk {

nb::object cells(nb::handle pdk) { return pdk.attr("cells"); }

nb::object cell_function(nb::handle pdk, nb::handle name) {
  nb::object map = cells(pdk);
  if (!contains(map, name)) return nb::none();
  return map[name];
}

nb::object get_component(nb::handle pdk, nb::handle name) {
  return pdk.attr("get_component")(name);
}

nb::object name(nb::handle pdk) { return pdk.attr("name"); }
nb::object layer_stack(nb::handle pdk) { return pdk.attr("layer_stack"); }
nb::object layer_views(nb::handle pdk) { return pdk.attr("layer_views"); }

}  // namespace pdk

}  // namespace tarnwick::host
