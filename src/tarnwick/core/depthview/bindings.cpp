// Python binding of tarnwick.core.depthview: declares classes, fields, defaults and signatures and
// forwards to the scene logic.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

namespace nb = nanobind;

NB_MODULE(depthview, m) {
  m.doc() = "3D scene conversion: a layout component or GDS file to one 3D viewer message.";
  tarnwick::host::bind_services();
  nb::list all;
  all.append("depthview");
  m.attr("__all__") = all;
}
