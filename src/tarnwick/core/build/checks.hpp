#pragma once
// The two pre-build checks and the netlist reader of the self-reference check, with the lookups
// of a factory's cell function and record that the single build shares with them.
//
// A check returns a message for the problem it finds and never raises for it; only the failures
// named at each function are absorbed, every other error propagates to the caller.
#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <vector>

namespace tarnwick::build {

namespace nb = nanobind;

// The entry for `name` in the active PDK's `cells` (asked afresh), or None.
nb::object cell_function(const std::string& name);
// The entry for `name` in the database's get_factories_by_name(name), or None.
nb::object factory_record(const std::string& name);

// A message when parameters of `cell_func` have defaults whose `base` is a tesselink TKCell, with
// the location (file:line) of the function (or of the one it wraps, one level) when its source can
// be found. Absorbs: ValueError/TypeError of the signature, OSError/TypeError of the location.
std::optional<std::string> check_component_default_args(const std::string& name,
                                                        nb::handle cell_func);

// A schematic's netlist read from its factory record's source file.
struct SchematicNetlist {
  nb::dict netlist;
  nb::object path;  // the source file (what absolute_source() gave)
};

// The netlist of a readable schematic cell: a schematic module, a record with a source that is an
// existing regular file, and YAML text that loads (safe_load) into a mapping. Otherwise nothing;
// every ordinary error of reading or parsing the file is absorbed.
std::optional<SchematicNetlist> get_schematic_netlist(const std::string& name);

// A message when the schematic's "instances" name the cell itself: an entry that is the name as
// text, or a mapping whose "component" is the name. The first such instance decides. An entry of
// any other kind (number, list, null) does not match and is passed over.
std::optional<std::string> check_self_referencing_schematic(const std::string& name);

}  // namespace tarnwick::build
