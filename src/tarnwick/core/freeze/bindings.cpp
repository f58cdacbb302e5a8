// Python binding of tarnwick.core.freeze.
#include <nanobind/nanobind.h>

#include "tarnwick/core/freeze/freeze.hpp"
#include "tarnwick/host/services.hpp"

namespace nb = nanobind;
namespace freeze = tarnwick::freeze;
namespace host = tarnwick::host;

NB_MODULE(freeze, m) {
  m.doc() = "Freezing of one parametrised cell into a fixed netlist map.";
  host::bind_services();
  // The public names; the lazy bindings below are replaceable hooks, left out of the stub too.
  nb::list all;
  for (const char* name : {"freeze", "freeze_recursive"}) all.append(name);
  m.attr("__all__") = all;

  // Lazy bindings: nothing behind them is imported before its first use.
  freeze::add_module_bindings(m);

  m.def("freeze", &freeze::freeze, nb::arg("cell_name").none(), nb::arg("kwargs"),
        nb::sig("def freeze(cell_name: str, **kwargs: typing.Any) -> dict[str, typing.Any]"),
        freeze::FREEZE_DOC);
  m.def("freeze_recursive", &freeze::freeze_recursive, nb::arg("cell_name").none(),
        nb::arg("kwargs"),
        nb::sig("def freeze_recursive(cell_name: str, **kwargs: typing.Any) -> "
                "dict[str, typing.Any] | None"),
        freeze::FREEZE_RECURSIVE_DOC);
  m.def("_get_brenvik_version", &freeze::get_brenvik_version,
        nb::sig("def _get_brenvik_version() -> tuple[int, int, int]"),
        freeze::GET_BRENVIK_VERSION_DOC);
}
