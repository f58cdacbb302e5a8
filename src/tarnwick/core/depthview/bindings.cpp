// Python binding of tarnwick.core.depthview: declares classes, fields, defaults and signatures and
// forwards to the scene logic.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

// --- buffer encoding, layer properties, entry points
#include "tarnwick/core/depthview/buffer.hpp"
#include "tarnwick/core/depthview/layer_properties.hpp"
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
  m.def("get_layer_properties", &tarnwick::depthview::get_layer_properties,
        nb::arg("layer_stack"), nb::arg("layer_views"),
        "Map from (layer, datatype) to PdkLayer from a LayerStack and its LayerViews.");
  // --- end
}
