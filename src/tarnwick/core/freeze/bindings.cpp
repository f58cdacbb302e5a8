// Python binding of tarnwick.core.freeze.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

namespace nb = nanobind;

NB_MODULE(freeze, m) {
  m.doc() = "Freezing of one parametrised cell into a fixed netlist map.";
  tarnwick::host::bind_services();
}
