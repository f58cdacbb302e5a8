#include "tarnwick/core/depthview/python/layer_properties.hpp"

#include <string>

#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/library.hpp"

namespace tarnwick::depthview::python {

namespace library = host::library;

nb::dict get_layer_properties(nb::handle layer_stack, nb::handle layer_views) {
  nb::handle pdk_layer = record_class(RecordKind::PdkLayer);
  nb::dict layers;
  nb::object levels = library::stack_levels(layer_stack);
  for (nb::handle level : levels) {
    nb::object layer = library::level_layer(level);
    nb::object chosen;
    if (library::is_derived_layer(layer)) {
      nb::object derived = library::level_derived_layer(level);
      if (derived.is_none()) continue;
      chosen = derived;
    } else if (library::is_logical_layer(layer)) {
      chosen = layer;
    } else {
      host::raise(PyExc_TypeError, "Unknown type " + nb::cast<std::string>(nb::str(layer.type())));
    }
    // A derived level's target may be a derived layer itself: nothing to draw it on.
    if (!library::is_logical_layer(chosen)) continue;
    nb::object layer_enum = library::logical_layer_enum(chosen);
    if (!library::is_layer_enum(layer_enum)) continue;

    nb::object number = library::enum_layer(layer_enum);
    nb::object datatype = library::enum_datatype(layer_enum);
    nb::tuple layer_spec = nb::make_tuple(number, datatype);
    nb::object view;
    try {
      view = library::layer_view(layer_views, layer_spec);
    } catch (nb::python_error& error) {
      // A layer without a view is left out; only ordinary errors count as "no view".
      if (!error.matches(PyExc_Exception)) throw;
      continue;
    }
    nb::object fill_color = library::fill_color(view);
    if (fill_color.is_none()) continue;
    nb::object color = library::color_hex(fill_color);

    nb::object name = library::enum_name(layer_enum).value_or(nb::none());
    if (name.is_none()) name = nb::str("({}, {})").format(number, datatype);
    // Read into objects before the call: a failing attribute lookup then raises its own error
    // instead of surfacing as a failed argument conversion.
    nb::object thickness = library::level_thickness(level);
    nb::object zmin = library::level_zmin(level);
    layers[layer_spec] = pdk_layer(name, thickness, zmin, color);
  }
  return layers;
}

}  // namespace tarnwick::depthview::python
