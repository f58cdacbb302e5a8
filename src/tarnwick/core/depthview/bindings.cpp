// Python binding of tarnwick.core.depthview: declares classes, fields, defaults and signatures and
// forwards to the scene logic.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

// --- buffer encoding, layer properties, entry points
#include "tarnwick/core/depthview/buffer.hpp"
// --- end

namespace nb = nanobind;

NB_MODULE(depthview, m) {
  m.doc() = "3D scene conversion: a layout component or GDS file to one 3D viewer message.";
  tarnwick::host::bind_services();
  nb::list all;
  all.append("depthview");
  m.attr("__all__") = all;

  // --- buffer encoding, layer properties, entry points
  m.def("numpy_to_buffer_json", &tarnwick::depthview::numpy_to_buffer_json, nb::arg("value").none(),
        "The map form of a scene with every numeric array replaced by a base64 buffer record.");
  // --- end
}
