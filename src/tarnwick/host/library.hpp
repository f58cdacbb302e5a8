#pragma once
// The component library brenvik, its cell library tesselink and the helper library ostrand: the
// library functions, type checks and component operations that the modules use.
//
// Library modules are imported on first use; their attributes are read at every call.
#include <nanobind/nanobind.h>

#include <optional>

namespace tarnwick::host::library {

namespace nb = nanobind;

// --- library functions
// brenvik.get_layer_views() and brenvik.get_layer_stack(): the active PDK's views and stack.
nb::object get_layer_views();
nb::object get_layer_stack();
// brenvik.import_gds(path): a component made from a GDS file.
nb::object import_gds(nb::handle path);
// `import brenvik`: a plain import at every call (a replaced sys.modules entry is seen).
nb::object import_brenvik();
// library.__version__; errors of reading it propagate.
nb::object version_text(nb::handle library);

// --- type checks
bool is_layer_stack(nb::handle value);    // brenvik.LayerStack
bool is_layer_views(nb::handle value);    // brenvik.LayerViews
bool is_derived_layer(nb::handle value);  // brenvik.DerivedLayer
bool is_logical_layer(nb::handle value);  // brenvik.LogicalLayer
bool is_layer_enum(nb::handle value);     // tesselink.LayerEnum
// tesselink.kcell.TKCell, read at every call (a failure to bind it propagates).
nb::object tkcell_type();

// --- components
// component.write_gds(path) or, with a flag, component.write_gds(path, with_metadata=flag).
void write_gds(nb::handle component, nb::handle path, std::optional<bool> with_metadata = {});
// component.get_netlist(**options)
nb::object get_netlist(nb::handle component, nb::handle options);
// layer_stack.get_component_with_derived_layers(component): a copy with the derived layers
// computed into polygons.
nb::object component_with_derived_layers(nb::handle layer_stack, nb::handle component);

// --- layer stacks and layer views, as the 3D scene reads them
// The levels of a LayerStack, in its order (layer_stack.layers.values()).
nb::object stack_levels(nb::handle layer_stack);
// A level's layer, derived_layer, thickness and zmin.
nb::object level_layer(nb::handle level);
nb::object level_derived_layer(nb::handle level);
nb::object level_thickness(nb::handle level);
nb::object level_zmin(nb::handle level);
// A LogicalLayer's LayerEnum (logical_layer.layer), and that enum's layer, datatype and name (none
// when it has no name).
nb::object logical_layer_enum(nb::handle logical_layer);
nb::object enum_layer(nb::handle layer_enum);
nb::object enum_datatype(nb::handle layer_enum);
std::optional<nb::object> enum_name(nb::handle layer_enum);
// layer_views.get_from_tuple(spec): the view of a (layer, datatype); errors propagate.
nb::object layer_view(nb::handle layer_views, nb::handle spec);
// A view's fill colour (None when it has none), and a colour's web text (as_hex()).
nb::object fill_color(nb::handle view);
nb::object color_hex(nb::handle color);

// --- cell functions
// cell_function.__module__: the name of the defining module (AttributeError when it has none).
nb::object module_name(nb::handle cell_function);
// Whether `module_name` is that of a schematic cell (a cell read from a ".pic.yml" netlist file): a
// text that ends with "_picyml". Anything else is not.
bool is_schematic_module(nb::handle module_name);
// Whether `cell_function` is a schematic cell's; None, or a function without a module name, is not.
bool is_schematic_cell(nb::handle cell_function);

// --- ostrand
// The ostrand library module.
nb::object ostrand();
// A new lazy binding of the ostrand module, for a module's namespace.
nb::object ostrand_binding();
// ostrand_module.flatten_dict(nested, sep=separator): one flat entry per leaf, in order, keys
// joined by the separator.
nb::object flatten_dict(nb::handle ostrand_module, nb::handle nested, const char* separator);

}  // namespace tarnwick::host::library
