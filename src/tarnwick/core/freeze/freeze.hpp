#pragma once
// Freezing one parametrised cell of the active PDK into the data of a fixed netlist.
//
// The operations read the module-level names `get_pdk`, `log`, `ostrand` and
// `_get_brenvik_version` from the module's globals at every call, as Python code reads its
// globals: a name rebound on the module (for example by a test) is honoured. While `get_pdk`, `log`
// and `ostrand` still hold the lazy bindings made at load, the services behind them are reached
// through the host layer, which reads them afresh (a service replaced on its own module is seen
// as well). Errors of the PDK, the cell function, `get_netlist`, `flatten_dict` and the logger pass
// through unchanged; no partial result is returned, and warnings already logged stay logged.
#include <nanobind/nanobind.h>

namespace tarnwick::freeze {

namespace nb = nanobind;

// Gives `module` its lazy bindings get_pdk, log and ostrand and remembers it as the module whose
// globals the operations below read. Called once, when the module is loaded.
void add_module_bindings(nb::module_ module);

inline constexpr const char* FREEZE_DOC =
    "Netlist of the PDK cell ``cell_name`` instantiated with the keyword arguments.\n\n"
    "Returns a new dict with the keys instances, connections, ports, placements, routes and nets,\n"
    "in this order, each holding the library netlist's own value (a new empty dict when the\n"
    "netlist lacks the key). The netlist's warnings are logged, one warning entry per flattened\n"
    "warning.\n\n"
    "Raises FileNotFoundError when the PDK has no such cell, RuntimeError when the cell is "
    "already\n"
    "a YAML cell or its netlist has no instances, TypeError when ``cell_name`` is not a str.";
nb::object freeze(nb::handle cell_name, nb::kwargs kwargs);

inline constexpr const char* FREEZE_RECURSIVE_DOC =
    "Recursive netlist of the PDK cell ``cell_name`` instantiated with the keyword arguments.\n\n"
    "Returns what the component library's recursive netlist extraction returns, unchanged, after\n"
    "logging its top-level warnings. Raises FileNotFoundError and RuntimeError as ``freeze``\n"
    "does, and TypeError when ``cell_name`` is not a str or the recursive netlist is neither a\n"
    "dict nor None.";
nb::object freeze_recursive(nb::handle cell_name, nb::kwargs kwargs);

inline constexpr const char* GET_BRENVIK_VERSION_DOC =
    "Version of the installed brenvik as (major, minor, patch); (0, 0, 0) when its version text\n"
    "cannot be read (reading it raises ValueError, IndexError or AttributeError, or a part is not\n"
    "an integer).";
nb::tuple get_brenvik_version();

}  // namespace tarnwick::freeze
