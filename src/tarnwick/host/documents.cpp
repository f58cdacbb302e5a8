#include "tarnwick/host/documents.hpp"

#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host {

namespace yaml {
nb::object safe_load(nb::handle text) { return bindings::yaml.operation("safe_load")(text); }
}  // namespace yaml

namespace schema {
nb::object netlist_schema(nb::handle netlist) {
  return bindings::schema.operation("get_netlist_schema")(netlist);
}
}  // namespace schema

}  // namespace tarnwick::host
