#include "tarnwick/core/depthview/entry.hpp"

#include <chrono>
#include <span>
#include <string_view>
#include <string>
#include <utility>

#include "tarnwick/core/depthview/buffer.hpp"
#include "tarnwick/core/depthview/layer_properties.hpp"
#include "tarnwick/core/depthview/parser.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/core/depthview/scene_writer.hpp"
#include "tarnwick/core/depthview/viewer.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {

using host::is_instance;

std::string name_of_type(nb::handle value) {
  return nb::cast<std::string>(value.type().attr("__name__"));
}

nb::module_ this_module() { return nb::module_::import_("tarnwick.core.depthview"); }

// The layer views or layer stack of the component library's active PDK, refused unless it has
// the library's type.
nb::object pdk_member(nb::handle library, const char* getter, const char* type,
                      const std::string& what) {
  nb::object value = library.attr(getter)();
  if (!is_instance(value, library.attr(type))) {
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
    host::pathlib.resolved().attr("Path")(path).attr("unlink")();
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_FileNotFoundError)) return;
    if (original != nullptr) {
      PyException_SetContext(error.value().ptr(), original->value().inc_ref().ptr());
    }
    throw;
  }
}

// Runs `body` and removes the file at `path` afterwards, whether `body` succeeds or fails.
template <typename Body>
nb::object removing_afterwards(nb::handle path, Body&& body) {
  nb::object result;
  try {
    result = std::forward<Body>(body)();
  } catch (nb::python_error& error) {
    remove_temporary(path, &error);
    throw;
  } catch (...) {
    remove_temporary(path, nullptr);
    throw;
  }
  remove_temporary(path, nullptr);
  return result;
}

// Stage timing of depthview_timed. Without a clock (nullptr) the entry points time nothing.
class StageClock {
 public:
  explicit StageClock(nb::handle progress) : progress_(nb::borrow(progress)) {}

  // Ends the running stage and starts `name`.
  void start(const char* name) {
    stop();
    if (!progress_.is_none()) progress_(name);
    name_ = name;
    begin_ = std::chrono::steady_clock::now();
  }

  void stop() {
    if (name_ == nullptr) return;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin_;
    seconds_[name_] = elapsed.count();
    name_ = nullptr;
  }

  const nb::dict& seconds() const { return seconds_; }

 private:
  nb::object progress_;
  nb::dict seconds_;
  const char* name_ = nullptr;
  std::chrono::steady_clock::time_point begin_;
};

void start_stage(StageClock* clock, const char* name) {
  if (clock != nullptr) clock->start(name);
}

void check_exclude_layers(nb::handle exclude_layers) {
  if (!exclude_layers.is_none() && !PyList_Check(exclude_layers.ptr())) {
    host::raise(PyExc_TypeError, "exclude_layers must be a list of str or None, got " +
                                     name_of_type(exclude_layers));
  }
}

// The native scene path of depthview: the parser that made the scene, with its polygons in its
// native pool instead of the scene's instance list.
struct NativeScene {
  // Asked by the caller: put the pool's polygons into the scene's instance list, as float32
  // arrays equal to those of the Python-object path, so that the scene (and its map form) is the
  // one to_3D_viewer returns.
  bool materialize = false;
  nb::object parser;
  const PolygonPool* pool = nullptr;
};

// Appends each polygon of `pool` to the instance list of the ViewerData `scene`, as the
// conversion does from a Python pool: a new float32 array of its flat coordinates.
void fill_instances(nb::handle scene, const PolygonPool& pool) {
  Record& root = expect_record(scene, viewer_data_schema, "the scene");
  nb::handle instances = root[field::viewer_instances];
  for (std::size_t i = 0; i < pool.size(); ++i) {
    const std::span<const float> polygon = pool.polygon(i);
    nb::object array = float32_vector(polygon.data(), polygon.size());
    if (PyList_Append(instances.ptr(), array.ptr()) != 0) throw nb::python_error();
  }
}

// The scene of a KLayout layout, as to_3D_viewer makes it once the layout is read: ParseGDS of the
// module (looked up at each call), export with combination in the grouping `output`, conversion,
// and the map form when `as_dict`. With `native` given, the parser
// stores its polygons in a native pool when it is the module's own ParseGDS (not a replacement):
// the result is then the ViewerData record without instances, whatever `as_dict` says, and `native`
// holds the parser and its pool; when `native` asks to materialize, the pool's polygons are put
// into the scene as the Python-object path has them and the result is as without `native`.
nb::object convert_layout(nb::handle layout, nb::handle layers, nb::handle output, double z_scale,
                          std::optional<double> curve_tolerance, nb::handle exclude_layers,
                          bool as_dict, StageClock* clock, NativeScene* native) {
  start_stage(clock, "parse");
  nb::module_ module = this_module();
  nb::object output_type = module.attr("Output");
  nb::object gds = module.attr("ParseGDS")(
      layout, layers, nb::arg("z_scale") = z_scale,
      nb::arg("curve_tolerance") = curve_tolerance ? nb::cast(*curve_tolerance) : nb::none(),
      nb::arg("exclude_layers") = exclude_layers);
  if (native != nullptr && gds.type().is(nb::type<Parser>())) {
    Parser& parser = *nb::inst_ptr<Parser>(gds);
    parser.use_native_pool();
    native->parser = gds;
    native->pool = parser.native_pool();
  }
  if (output.equal(output_type.attr("CELL"))) {
    gds.attr("export_cells")(nb::arg("combine") = true);
  } else if (output.equal(output_type.attr("LAYER"))) {
    gds.attr("export_layers")(nb::arg("combine") = true);
  } else {
    host::raise(PyExc_ValueError, "Only Output.CELL and Output.LAYER are allowed");
  }
  start_stage(clock, "convert");
  nb::object viewer_json = gds.attr("to_viewer")(output);
  if (native != nullptr && native->pool != nullptr) {
    if (!native->materialize) return viewer_json;
    fill_instances(viewer_json, *native->pool);
  }
  return as_dict ? gds.attr("asdict")(viewer_json) : viewer_json;
}

// The scene of `component`; `native` as for convert_layout.
nb::object to_3d_viewer_stages(nb::handle component, nb::handle output, nb::handle layer_views,
                               nb::handle layer_stack, double z_scale,
                               std::optional<double> curve_tolerance, nb::handle exclude_layers,
                               bool as_dict, StageClock* clock, NativeScene* native = nullptr) {
  start_stage(clock, "read");
  // 1. Arguments: the numbers arrive converted; the exclusion patterns must be a list or None.
  check_exclude_layers(exclude_layers);
  // 2. The component library.
  nb::handle library = host::brenvik.resolved();
  // 3., 4. Layer views and layer stack from the library's PDK unless given.
  nb::object views = nb::borrow(layer_views);
  if (views.is_none()) views = pdk_member(library, "get_layer_views", "LayerViews", "layer views");
  nb::object stack = nb::borrow(layer_stack);
  if (stack.is_none())
    stack = pdk_member(library, "get_layer_stack", "LayerStack", "a layer stack");
  // 5. A path text names a GDS file to import.
  nb::object source = nb::borrow(component);
  if (PyUnicode_Check(source.ptr())) source = library.attr("import_gds")(source);
  // 6. The component with the stack's derived layers computed.
  nb::object component_with_booleans = stack.attr("get_component_with_derived_layers")(source);
  // 7. Heights, thicknesses and colours per GDS layer.
  nb::dict layers = get_layer_properties(stack, views);

  // 8. The temporary GDS file. From its creation on, it is removed on every path.
  nb::object file = host::tempfile.resolved().attr("NamedTemporaryFile")(nb::arg("suffix") = ".gds",
                                                                         nb::arg("delete") = false);
  nb::object path = file.attr("name");
  return removing_afterwards(path, [&]() -> nb::object {
    try {
      component_with_booleans.attr("write_gds")(path);
    } catch (...) {
      file.attr("close")();
      throw;
    }
    file.attr("close")();

    // 9. Read, parse, convert.
    nb::object layout = host::klayout_db.resolved().attr("Layout")();
    layout.attr("read")(path);
    return convert_layout(layout, layers, output, z_scale, curve_tolerance, exclude_layers,
                          as_dict, clock, native);
  });
}

// A member of a scene node: the entry of a scene map, or the field of a scene record (nullptr
// when there is none).
PyObject* member(nb::handle node, const char* name) {
  if (PyDict_Check(node.ptr())) return PyDict_GetItemString(node.ptr(), name);
  if (const Record* record = as_record(node)) {
    for (std::size_t i = 0; i < record->schema->fields.size(); ++i) {
      if (std::string_view(record->schema->fields[i].name) == name) return record->values[i].ptr();
    }
  }
  return nullptr;
}

// Counts of a scene map or record tree: leaves and their polygons and placements (a leaf without
// matrices is drawn once).
void count_parts(nb::handle node, long long& parts, long long& placed, long long& placements) {
  if (PyObject* shape = member(node, "shape")) {
    const long long refs = static_cast<long long>(nb::len(nb::handle(member(shape, "refs"))));
    long long count = 0;
    if (PyObject* matrices = member(shape, "matrices")) {
      count = static_cast<long long>(nb::len(nb::handle(matrices))) / 6;
    }
    parts += 1;
    placements += count;
    placed += refs * (count > 0 ? count : 1);
  }
  if (PyObject* children = member(node, "parts")) {
    for (nb::handle child : nb::handle(children)) count_parts(child, parts, placed, placements);
  }
}

// The message content of a scene map, by the Python-object path: buffer records, configuration,
// the host's compact JSON writer.
nb::str reference_content(nb::handle viewer_json) {
  nb::dict data;
  data["type"] = "data";
  data["data"] = numpy_to_buffer_json(viewer_json);
  data["config"] = viewer_config();
  return host::json::dumps(data, host::json::Style::compact);
}

// The message content of a native scene, written by the SceneWriter. When the writer meets a value
// it cannot write exactly, or the host writer fails on a value, the scene's polygons are put into
// its instance list as the Python-object path has them and that path writes (or refuses) the
// message; `native_written` tells which one wrote it.
nb::str native_content(nb::handle scene, const NativeScene& native, bool& native_written) {
  nb::object text;
  try {
    SceneWriter writer(native.pool);
    text = writer.message(scene, viewer_config());
  } catch (const Unsupported&) {
    text.reset();
  } catch (const nb::python_error&) {
    text.reset();
  }
  native_written = text.is_valid();
  if (native_written) return nb::borrow<nb::str>(text);
  fill_instances(scene, *native.pool);
  return reference_content(native.parser.attr("asdict")(scene));
}

// The content of the scene that convert_layout returned: "native", "fallback" (native pool,
// Python-object writer) or "reference" (Python-object path throughout) in `path`.
nb::str scene_content(nb::handle scene, const NativeScene& native, const char*& path) {
  if (native.pool == nullptr) {
    path = "reference";
    return reference_content(scene);
  }
  bool native_written = false;
  nb::str content = native_content(scene, native, native_written);
  path = native_written ? "native" : "fallback";
  return content;
}

// How depthview_stages made the message: "native" (native pool and writer), "fallback" (native
// pool, Python-object writer) or "reference" (Python-object path throughout).
const char* depthview_stages(nb::handle component, nb::handle output, double z_scale,
                             std::optional<double> curve_tolerance, nb::handle exclude_layers,
                             StageClock* clock, nb::dict* counts, bool use_native) {
  check_exclude_layers(exclude_layers);
  nb::object pdk = host::get_pdk();
  nb::object layer_stack = pdk.attr("layer_stack");
  nb::object layer_views = pdk.attr("layer_views");
  if (host::assertions_enabled()) {
    nb::handle library = host::brenvik.resolved();
    if (!is_instance(layer_stack, library.attr("LayerStack"))) host::raise_assertion();
    if (!is_instance(layer_views, library.attr("LayerViews"))) host::raise_assertion();
  }
  NativeScene native;
  nb::object viewer_json =
      to_3d_viewer_stages(component, output, layer_views, layer_stack, z_scale, curve_tolerance,
                          exclude_layers, /*as_dict=*/true, clock, use_native ? &native : nullptr);
  if (counts != nullptr) {
    long long parts = 0, placed = 0, placements = 0;
    count_parts(viewer_json, parts, placed, placements);
    long long polygons = 0;
    if (native.pool != nullptr) {
      polygons = static_cast<long long>(native.pool->size());
    } else if (PyObject* instances = member(viewer_json, "instances")) {
      polygons = static_cast<long long>(nb::len(nb::handle(instances)));
    }
    (*counts)["polygons"] = polygons;
    (*counts)["placed_polygons"] = placed;
    (*counts)["placements"] = placements;
    (*counts)["parts"] = parts;
  }
  start_stage(clock, "encode");
  const char* path = nullptr;
  nb::str content = scene_content(viewer_json, native, path);
  nb::object message = host::depthview_message(content);
  if (counts != nullptr) {
    Py_ssize_t size = 0;
    if (PyUnicode_AsUTF8AndSize(content.ptr(), &size) == nullptr) throw nb::python_error();
    (*counts)["bytes"] = static_cast<long long>(size);
  }
  host::send_message(message);
  if (clock != nullptr) clock->stop();
  return path;
}

}  // namespace

nb::tuple scene_message(nb::handle layout, nb::handle layers, nb::handle output, double z_scale,
                        std::optional<double> curve_tolerance, nb::handle exclude_layers,
                        bool native) {
  check_exclude_layers(exclude_layers);
  NativeScene scene_native;
  nb::object scene = convert_layout(layout, layers, output, z_scale, curve_tolerance,
                                    exclude_layers, /*as_dict=*/true, nullptr,
                                    native ? &scene_native : nullptr);
  const char* path = nullptr;
  nb::str content = scene_content(scene, scene_native, path);
  return nb::make_tuple(content, nb::str(path));
}

nb::object to_3d_viewer(nb::handle component, nb::handle output, nb::handle layer_views,
                        nb::handle layer_stack, double z_scale,
                        std::optional<double> curve_tolerance, nb::handle exclude_layers,
                        bool as_dict) {
  NativeScene native;
  native.materialize = true;
  return to_3d_viewer_stages(component, output, layer_views, layer_stack, z_scale, curve_tolerance,
                             exclude_layers, as_dict, nullptr, &native);
}

nb::object to_3d_viewer_reference(nb::handle component, nb::handle output, nb::handle layer_views,
                                  nb::handle layer_stack, double z_scale,
                                  std::optional<double> curve_tolerance,
                                  nb::handle exclude_layers, bool as_dict) {
  return to_3d_viewer_stages(component, output, layer_views, layer_stack, z_scale, curve_tolerance,
                             exclude_layers, as_dict, nullptr);
}

nb::dict viewer_config() {
  nb::dict config;
  config["_splash"] = false;
  config["ambient_intensity"] = 1;
  config["angular_tolerance"] = 0.2;
  config["axes"] = false;
  config["axes0"] = true;
  config["black_edges"] = false;
  config["center_grid"] = false;
  config["collapse"] = 3;
  config["control"] = "trackball";
  config["default_color"] = "#e8b024";
  config["default_edgecolor"] = "#707070";
  config["default_facecolor"] = "Violet";
  config["default_opacity"] = 0.5;
  config["default_thickedgecolor"] = "MediumOrchid";
  config["default_vertexcolor"] = "MediumOrchid";
  config["direct_intensity"] = 1.1;
  config["explode"] = false;
  config["glass"] = true;
  nb::list grid;
  for (int i = 0; i < 3; ++i) grid.append(false);
  config["grid"] = grid;
  config["helper_scale"] = 10;
  config["metalness"] = 0.3;
  nb::dict modifier_keys;
  modifier_keys["shift"] = "shiftKey";
  modifier_keys["ctrl"] = "ctrlKey";
  modifier_keys["meta"] = "metaKey";
  modifier_keys["alt"] = "altKey";
  config["modifier_keys"] = modifier_keys;
  config["new_tree_behavior"] = true;
  config["ortho"] = true;
  config["pan_speed"] = 1;
  config["render_edges"] = true;
  config["render_joints"] = false;
  config["render_mates"] = false;
  config["render_normals"] = false;
  config["reset_camera"] = "reset";
  config["rotate_speed"] = 1;
  config["roughness"] = 0.65;
  config["show_parent"] = false;
  config["show_sketch_local"] = true;
  config["ticks"] = 10;
  config["timeit"] = false;
  config["tools"] = true;
  config["transparent"] = false;
  config["up"] = "Z";
  config["zoom_speed"] = 1;
  config["normal_len"] = 0;
  return config;
}

void depthview(nb::handle component, nb::handle output, double z_scale,
               std::optional<double> curve_tolerance, nb::handle exclude_layers) {
  depthview_stages(component, output, z_scale, curve_tolerance, exclude_layers, nullptr, nullptr,
                   /*use_native=*/true);
}

void depthview_reference(nb::handle component, nb::handle output, double z_scale,
                         std::optional<double> curve_tolerance, nb::handle exclude_layers) {
  depthview_stages(component, output, z_scale, curve_tolerance, exclude_layers, nullptr, nullptr,
                   /*use_native=*/false);
}

nb::dict depthview_timed(nb::handle component, nb::handle output, double z_scale,
                         std::optional<double> curve_tolerance, nb::handle exclude_layers,
                         nb::handle progress, bool native) {
  StageClock clock(progress);
  nb::dict counts;
  const char* path = depthview_stages(component, output, z_scale, curve_tolerance, exclude_layers,
                                      &clock, &counts, native);
  nb::dict result;
  result["path"] = path;
  result["seconds"] = clock.seconds();
  result["counts"] = counts;
  return result;
}

}  // namespace tarnwick::depthview
