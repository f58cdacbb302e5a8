#include "tarnwick/core/depthview/entry.hpp"

#include <nanobind/stl/string.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tarnwick/core/depthview/model/grouping.hpp"
#include "tarnwick/core/depthview/pipeline.hpp"
#include "tarnwick/core/depthview/python/arguments.hpp"
#include "tarnwick/core/depthview/python/buffers.hpp"
#include "tarnwick/core/depthview/python/layer_properties.hpp"
#include "tarnwick/core/depthview/python/parse_gds.hpp"
#include "tarnwick/core/depthview/release_memory.hpp"
#include "tarnwick/core/depthview/viewer_config.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/files.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/klayout.hpp"
#include "tarnwick/host/library.hpp"
#include "tarnwick/host/messages.hpp"
#include "tarnwick/host/pdk.hpp"
#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/runtime.hpp"
#include "tarnwick/host/technology.hpp"

namespace tarnwick::depthview {

namespace {

namespace library = host::library;

std::string name_of_type(nb::handle value) { return host::utf8_text_of(host::name_of_type(value)); }
using model::Grouping;

nb::module_ this_module() { return nb::module_::import_("tarnwick.core.depthview"); }

// The layer views or layer stack of the component library's active PDK, refused unless it has
// the library's type.
nb::object pdk_member(nb::object value, bool (*has_type)(nb::handle), const char* type,
                      const std::string& what) {
  if (!has_type(value)) {
    host::raise(PyExc_ValueError, std::string("PDK has no ") + type + " configured (got " +
                                      name_of_type(value) + "). 3D viewer requires a PDK with " +
                                      what + ".");
  }
  return value;
}

// Removes the temporary file. A file that is already gone is not an error. Any other failure is
// raised; when it happens while `original` is being reported, it carries `original` as its
// context, as a failure inside a Python `finally` would.
void remove_temporary(nb::handle path, nb::python_error* original) {
  try {
    host::files::remove(path);
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_FileNotFoundError)) return;
    if (original != nullptr) {
      PyException_SetContext(error.value().ptr(), original->value().inc_ref().ptr());
    }
    throw;
  }
}

// What both entry points do first: the checked arguments, and the component read into a KLayout
// layout through a temporary GDS file, which `use` gets with the layer properties. The temporary
// file is removed after `use`, whatever happens.
struct Inputs {
  double z_scale;
  std::optional<double> curve_tolerance;
  nb::object exclude_layers;
};

// Whether a file path takes the component route (import, derived layers, a temporary GDS file read
// again) instead of being read once: the module's private switch, kept to prove both alike.
bool file_through_component() {
  return nb::getattr(this_module(), "_read_file_through_component", nb::none())
      .is(nb::handle(Py_True));
}

// The cells to draw: every top cell, or the ones the file read named.
using DrawnCells = std::optional<std::vector<std::int64_t>>;

template <class Use>
nb::object with_layout(nb::handle component, nb::handle layer_views, nb::handle layer_stack,
                       nb::handle cell, bool read_file_once, Use&& use) {
  // Layer views and layer stack from the library's PDK unless given.
  nb::object views = nb::borrow(layer_views);
  if (views.is_none()) {
    views = pdk_member(library::get_layer_views(), &library::is_layer_views, "LayerViews",
                       "layer views");
  }
  nb::object stack = nb::borrow(layer_stack);
  if (stack.is_none()) {
    stack = pdk_member(library::get_layer_stack(), &library::is_layer_stack, "LayerStack",
                       "a layer stack");
  }
  const bool is_path = PyUnicode_Check(component.ptr());
  if (!is_path && !cell.is_none()) {
    host::raise(PyExc_ValueError, "cell= picks a cell of a layout file, not of a component");
  }
  if (is_path && read_file_once && !file_through_component()) {
    // A file is read once, straight into the layout the scene reads; nothing is written.
    nb::object read = host::klayout::read_layout_file(component, stack, cell);
    nb::object layout = read[0];
    std::vector<std::int64_t> cells;
    for (nb::handle index : read[1]) cells.push_back(nb::cast<std::int64_t>(index));
    read.reset();
    nb::dict layers = python::get_layer_properties(stack, views);
    return use(std::move(layout), std::move(layers), DrawnCells(std::move(cells)));
  }
  if (!cell.is_none()) {
    host::raise(PyExc_ValueError, "cell= needs a layout file read once, not the component route");
  }
  // A path text names a GDS file to import.
  nb::object source = nb::borrow(component);
  if (PyUnicode_Check(source.ptr())) source = library::import_gds(source);
  nb::object component_with_booleans = library::component_with_derived_layers(stack, source);
  nb::dict layers = python::get_layer_properties(stack, views);

  // The temporary file is made and removed with Ctrl-C held back, so that an interrupt cannot
  // fall between its making and the removal that is sure to follow.
  nb::object path;
  const auto remove = [&](nb::python_error* original) {
    if (!path.is_valid()) return;
    host::runtime::with_interrupts_held([&] { remove_temporary(path, original); });
  };
  nb::object result;
  try {
    host::runtime::with_interrupts_held([&] { path = host::files::temporary_file(".gds"); });
    // The temporary file carries geometry only: the scene reads no metadata.
    library::write_gds(component_with_booleans, path, false);
    // The library's layouts are done with: freed now, their pages given back, before the scene's
    // own memory grows in their place. Freeing them runs the library's weak-reference callbacks,
    // so Ctrl-C is held back meanwhile rather than dropped inside one.
    host::runtime::with_interrupts_held([&] {
      source.reset();
      component_with_booleans.reset();
      release_free_memory();
    });
    nb::object layout = host::klayout::new_layout();
    host::klayout::read_layout(layout, path);
    result = use(std::move(layout), std::move(layers), DrawnCells());
  } catch (nb::python_error& error) {
    remove(&error);
    throw;
  } catch (...) {
    remove(nullptr);
    throw;
  }
  remove(nullptr);
  return result;
}

Grouping checked_grouping(nb::handle output) {
  nb::object type = this_module().attr("Output");
  if (output.equal(type.attr("CELL"))) return Grouping::CELL;
  if (output.equal(type.attr("LAYER"))) return Grouping::LAYER;
  host::raise(PyExc_ValueError, "Only Output.CELL and Output.LAYER are allowed");
}

// The scene through the module's ParseGDS and its records: its ViewerData, or the map form.
nb::object records_scene(nb::handle layout, nb::handle layers, nb::handle output,
                         const Inputs& inputs, bool as_dict) {
  nb::object gds = this_module().attr("ParseGDS")(
      layout, layers, nb::arg("z_scale") = inputs.z_scale,
      nb::arg("curve_tolerance") =
          inputs.curve_tolerance ? nb::object(nb::float_(*inputs.curve_tolerance)) : nb::none(),
      nb::arg("exclude_layers") = inputs.exclude_layers);
  if (checked_grouping(output) == Grouping::CELL) {
    gds.attr("export_cells")(nb::arg("combine") = true);
  } else {
    gds.attr("export_layers")(nb::arg("combine") = true);
  }
  nb::object viewer_json = gds.attr("to_viewer")(output);
  return as_dict ? gds.attr("asdict")(viewer_json) : viewer_json;
}

Inputs checked_inputs(double z_scale, nb::handle curve_tolerance, nb::handle exclude_layers) {
  python::check_exclude_layers(exclude_layers);
  return {python::checked_z_scale(z_scale), python::checked_tolerance(curve_tolerance),
          nb::borrow(exclude_layers)};
}

}  // namespace

nb::object to_3d_viewer(nb::handle component, nb::handle output, nb::handle layer_views,
                        nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                        nb::handle exclude_layers, bool as_dict) {
  const Inputs inputs = checked_inputs(z_scale, curve_tolerance, exclude_layers);
  // The records route keeps the component route for files too: it draws a file's first top cell.
  return with_layout(component, layer_views, layer_stack, nb::none(), false,
                     [&](nb::object layout, nb::dict layers, DrawnCells) {
                       return records_scene(layout, layers, output, inputs, as_dict);
                     });
}

void depthview(nb::handle component, nb::handle output, double z_scale, nb::handle curve_tolerance,
               nb::handle exclude_layers, nb::handle report_to, nb::handle technology,
               nb::handle cell) {
  StageReport report(report_to);
  report.start("read");
  const Inputs inputs = checked_inputs(z_scale, curve_tolerance, exclude_layers);
  // Loaded with the other host services the read stage looks up, so that the encode stage times
  // the encoding and the sending alone, also on a process's first scene.
  host::load_depthview_messaging();
  nb::object layer_stack, layer_views;
  if (technology.is_none()) {
    nb::object pdk = host::get_pdk();
    layer_stack = host::pdk::layer_stack(pdk);
    layer_views = host::pdk::layer_views(pdk);
  } else {
    std::tie(layer_stack, layer_views) = host::technology::scene_layers(technology, component);
  }
  if (host::runtime::assertions_enabled()) {
    if (!library::is_layer_stack(layer_stack)) host::raise_assertion();
    if (!library::is_layer_views(layer_views)) host::raise_assertion();
  }
  const bool own_parser = this_module().attr("ParseGDS").is(nb::type<python::ParseGDS>());
  nb::object content = with_layout(
      component, layer_views, layer_stack, cell, own_parser,
      [&](nb::object layout, nb::dict layers, DrawnCells cells) -> nb::object {
        if (!own_parser) {
          // A replaced parser is used as given: the scene through its records.
          nb::object scene = records_scene(layout, layers, output, inputs, true);
          report.start("encode");
          nb::dict data;
          data["type"] = "data";
          data["data"] = python::numpy_to_buffer_json(scene);
          data["config"] = viewer_config();
          return host::json::dumps(data, host::json::Style::compact);
        }
        SceneRequest request{std::move(layout), std::move(layers),      checked_grouping(output),
                             inputs.z_scale,    inputs.curve_tolerance, inputs.exclude_layers,
                             std::move(cells)};
        return scene_message(std::move(request), report);
      });
  host::send_message(host::depthview_message(content));
  report.done();
}

nb::object with_scene_request(nb::handle component, nb::handle output, nb::handle layer_views,
                              nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                              nb::handle exclude_layers, nb::handle cell,
                              const std::function<nb::object(SceneRequest)>& use) {
  const Inputs inputs = checked_inputs(z_scale, curve_tolerance, exclude_layers);
  const Grouping grouping = checked_grouping(output);
  return with_layout(component, layer_views, layer_stack, cell, true,
                     [&](nb::object layout, nb::dict layers, DrawnCells cells) {
                       return use(SceneRequest{std::move(layout), std::move(layers), grouping,
                                               inputs.z_scale, inputs.curve_tolerance,
                                               inputs.exclude_layers, std::move(cells)});
                     });
}

nb::str viewer_message(nb::handle layout, nb::handle layers, nb::handle output, double z_scale,
                       nb::handle curve_tolerance, nb::handle exclude_layers,
                       nb::handle report_to) {
  StageReport report(report_to);
  const Inputs inputs = checked_inputs(z_scale, curve_tolerance, exclude_layers);
  if (!PyDict_Check(layers.ptr())) {
    host::raise(PyExc_TypeError, "layers must be a dict of PdkLayer, not " + name_of_type(layers));
  }
  SceneRequest request{nb::borrow(layout), nb::borrow(layers),     checked_grouping(output),
                       inputs.z_scale,     inputs.curve_tolerance, inputs.exclude_layers};
  nb::str content = scene_message(std::move(request), report);
  report.done();
  return content;
}

}  // namespace tarnwick::depthview
