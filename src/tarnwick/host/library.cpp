#include "tarnwick/host/library.hpp"

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/runtime.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::library {

nb::object get_layer_views() { return bindings::brenvik.operation("get_layer_views")(); }
nb::object get_layer_stack() { return bindings::brenvik.operation("get_layer_stack")(); }
nb::object import_gds(nb::handle path) { return bindings::brenvik.operation("import_gds")(path); }

nb::object import_brenvik() { return nb::module_::import_(bindings::brenvik.module().c_str()); }
nb::object version_text(nb::handle library) { return library.attr("__version__"); }

bool is_layer_stack(nb::handle value) {
  return is_instance(value, bindings::brenvik.operation("LayerStack"));
}
bool is_layer_views(nb::handle value) {
  return is_instance(value, bindings::brenvik.operation("LayerViews"));
}
bool is_derived_layer(nb::handle value) {
  return is_instance(value, bindings::brenvik.operation("DerivedLayer"));
}
bool is_logical_layer(nb::handle value) {
  return is_instance(value, bindings::brenvik.operation("LogicalLayer"));
}
bool is_layer_enum(nb::handle value) {
  return is_instance(value, bindings::tesselink.operation("LayerEnum"));
}
nb::object tkcell_type() { return bindings::tesselink_kcell.operation("TKCell"); }

void write_gds(nb::handle component, nb::handle path, std::optional<bool> with_metadata) {
  nb::object write = component.attr("write_gds");
  if (with_metadata) {
    write(path, nb::arg("with_metadata") = *with_metadata);
  } else {
    write(path);
  }
}

nb::object get_netlist(nb::handle component, nb::handle options) {
  nb::object function = component.attr("get_netlist");
  return checked(PyObject_Call(function.ptr(), nb::tuple().ptr(), options.ptr()));
}

nb::object component_with_derived_layers(nb::handle layer_stack, nb::handle component) {
  return layer_stack.attr("get_component_with_derived_layers")(component);
}

nb::object module_name(nb::handle cell_function) { return cell_function.attr("__module__"); }

bool is_schematic_module(nb::handle module_name) {
  if (!PyUnicode_Check(module_name.ptr())) return false;
  nb::str suffix("_picyml");
  const Py_ssize_t match =
      PyUnicode_Tailmatch(module_name.ptr(), suffix.ptr(), 0, PY_SSIZE_T_MAX, /*direction=*/+1);
  check(match >= 0);
  return match == 1;
}

bool is_schematic_cell(nb::handle cell_function) {
  if (cell_function.is_none()) return false;
  std::optional<nb::object> name = runtime::optional_attribute(cell_function, "__module__");
  return name && is_schematic_module(*name);
}

nb::object ostrand() { return nb::borrow(bindings::ostrand.resolved()); }
nb::object ostrand_binding() { return lazy_import(bindings::ostrand.module()); }

nb::object flatten_dict(nb::handle ostrand_module, nb::handle nested, const char* separator) {
  return ostrand_module.attr("flatten_dict")(nested, nb::arg("sep") = separator);
}

nb::object stack_levels(nb::handle layer_stack) {
  return layer_stack.attr("layers").attr("values")();
}
nb::object level_layer(nb::handle level) { return level.attr("layer"); }
nb::object level_derived_layer(nb::handle level) { return level.attr("derived_layer"); }
nb::object level_thickness(nb::handle level) { return level.attr("thickness"); }
nb::object level_zmin(nb::handle level) { return level.attr("zmin"); }
nb::object logical_layer_enum(nb::handle logical_layer) { return logical_layer.attr("layer"); }
nb::object enum_layer(nb::handle layer_enum) { return layer_enum.attr("layer"); }
nb::object enum_datatype(nb::handle layer_enum) { return layer_enum.attr("datatype"); }
std::optional<nb::object> enum_name(nb::handle layer_enum) {
  if (!nb::hasattr(layer_enum, "name")) return std::nullopt;
  return layer_enum.attr("name");
}
nb::object layer_view(nb::handle layer_views, nb::handle spec) {
  return layer_views.attr("get_from_tuple")(spec);
}
nb::object fill_color(nb::handle view) { return view.attr("fill_color"); }
nb::object color_hex(nb::handle color) { return color.attr("as_hex")(); }

}  // namespace tarnwick::host::library
