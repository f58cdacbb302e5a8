// Python binding of tarnwick.core.build.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

namespace nb = nanobind;

NB_MODULE(build, m) {
  m.doc() = "Batch builds of PDK factories by name.";
  tarnwick::host::bind_services();
}
