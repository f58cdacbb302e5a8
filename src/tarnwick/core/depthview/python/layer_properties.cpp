#include "tarnwick/core/depthview/python/layer_properties.hpp"

#include <string>

#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::is_instance;

}  // namespace

nb::dict get_layer_properties(nb::handle layer_stack, nb::handle layer_views) {
  nb::handle brenvik = host::brenvik.resolved();
  nb::object derived_layer_type = brenvik.attr("DerivedLayer");
  nb::object logical_layer_type = brenvik.attr("LogicalLayer");
  nb::object layer_enum_type = host::tesselink.resolved().attr("LayerEnum");
  nb::handle pdk_layer = record_class(RecordKind::PdkLayer);

  nb::dict layers;
  nb::object levels = layer_stack.attr("layers").attr("values")();
  for (nb::handle level : levels) {
    nb::object layer = level.attr("layer");
    nb::object chosen;
    if (is_instance(layer, derived_layer_type)) {
      nb::object derived = level.attr("derived_layer");
      if (derived.is_none()) continue;
      chosen = derived;
    } else if (is_instance(layer, logical_layer_type)) {
      chosen = layer;
    } else {
      host::raise(PyExc_TypeError, "Unknown type " + nb::cast<std::string>(nb::str(layer.type())));
    }
    // A derived level's target may be a derived layer itself: nothing to draw it on.
    if (!is_instance(chosen, logical_layer_type)) continue;
    nb::object layer_enum = chosen.attr("layer");
    if (!is_instance(layer_enum, layer_enum_type)) continue;

    nb::object number = layer_enum.attr("layer");
    nb::object datatype = layer_enum.attr("datatype");
    nb::tuple layer_spec = nb::make_tuple(number, datatype);
    nb::object view;
    try {
      view = layer_views.attr("get_from_tuple")(layer_spec);
    } catch (nb::python_error& error) {
      // A layer without a view is left out; only ordinary errors count as "no view".
      if (!error.matches(PyExc_Exception)) throw;
      continue;
    }
    nb::object fill_color = view.attr("fill_color");
    if (fill_color.is_none()) continue;
    nb::object color = fill_color.attr("as_hex")();

    nb::object name = nb::none();
    if (nb::hasattr(layer_enum, "name")) name = layer_enum.attr("name");
    if (name.is_none()) name = nb::str("({}, {})").format(number, datatype);
    // Read into objects before the call: a failing attribute lookup then raises its own error
    // instead of surfacing as a failed argument conversion.
    nb::object thickness = level.attr("thickness");
    nb::object zmin = level.attr("zmin");
    layers[layer_spec] = pdk_layer(name, thickness, zmin, color);
  }
  return layers;
}

}  // namespace tarnwick::depthview::python
