// Python binding of tarnwick.core.depthview: declares classes, fields, defaults and signatures and
// forwards to the scene logic.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

// --- buffer encoding, layer properties, entry points
#include "tarnwick/core/depthview/buffer.hpp"
#include "tarnwick/core/depthview/entry.hpp"
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
  // The entry points take Output.LAYER as default, so they are declared after the records.
  if (nb::hasattr(m, "Output")) {
    m.def("to_3D_viewer", &tarnwick::depthview::to_3d_viewer, nb::arg("component"),
          nb::arg("output") = m.attr("Output").attr("LAYER"),
          nb::arg("layer_views").none() = nb::none(), nb::arg("layer_stack").none() = nb::none(),
          nb::arg("z_scale") = 1.0, nb::arg("curve_tolerance").none() = 0.01,
          nb::arg("exclude_layers").none() = nb::none(), nb::kw_only(),
          nb::arg("as_dict") = false,
          "The 3D viewer scene of a component or GDS file: a ViewerData, or its map form.");
    m.def("depthview", &tarnwick::depthview::depthview, nb::arg("component"), nb::arg("output"),
          nb::arg("z_scale") = 1.0, nb::arg("curve_tolerance").none() = 0.01,
          nb::arg("exclude_layers").none() = nb::none(),
          "Shows a component or GDS file in the 3D viewer: sends one DepthviewMessage.");
    m.def("_depthview_timed", &tarnwick::depthview::depthview_timed, nb::arg("component"),
          nb::arg("output"), nb::arg("z_scale") = 1.0, nb::arg("curve_tolerance").none() = 0.01,
          nb::arg("exclude_layers").none() = nb::none(), nb::arg("progress").none() = nb::none(),
          "depthview that also returns the seconds of each stage and the scene's counts.");
  }
  // --- end
}
