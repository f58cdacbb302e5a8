#pragma once
// Reading YAML documents and making netlist schemas (tarnwick.core.schema). JSON is written by
// host/json.hpp.
#include <nanobind/nanobind.h>

namespace tarnwick::host {

namespace nb = nanobind;

namespace yaml {
// yaml.safe_load(text): standard YAML types only, no application objects.
nb::object safe_load(nb::handle text);
}  // namespace yaml

namespace schema {
// get_netlist_schema(netlist): a schema document that the JSON writer can write.
nb::object netlist_schema(nb::handle netlist);
}  // namespace schema

}  // namespace tarnwick::host
