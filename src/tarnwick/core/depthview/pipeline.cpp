#include "tarnwick/core/depthview/pipeline.hpp"

#include <memory>
#include <vector>

#include "tarnwick/core/depthview/python/layer_table.hpp"
#include "tarnwick/core/depthview/read/direct_reader.hpp"
#include "tarnwick/core/depthview/read/python_api_reader.hpp"
#include "tarnwick/core/depthview/viewer_config.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/runtime.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/host/settings.hpp"

namespace tarnwick::depthview {

namespace {

using namespace nb::literals;

// The message text as a Python str, written straight into it when it is ASCII.
nb::str as_text(write::MessageText& text) {
  if (text.ascii()) {
    nb::object result = host::checked(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
    text.write_to(reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(result.ptr())));
    return nb::borrow<nb::str>(result);
  }
  std::string bytes(text.size(), '\0');
  text.write_to(bytes.data());
  return nb::borrow<nb::str>(host::checked(
      PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr)));
}

}  // namespace

void StageReport::start(const char* name) {
  stop();
  if (!report_.is_none()) {
    nb::dict event;
    event["stage"] = name;
    report_(event);
  }
  start_clock(name);
}

void StageReport::start_clock(const char* name) {
  running_ = name;
  begin_ = std::chrono::steady_clock::now();
}

void StageReport::stop() {
  if (running_ == nullptr) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin_;
  seconds_[running_] = elapsed.count();
  running_ = nullptr;
}

void StageReport::done() {
  stop();
  if (report_.is_none()) return;
  nb::dict event;
  event["stage"] = "done";
  event["seconds"] = seconds_;
  event["counts"] = counts_;
  event["reader"] = reader_;
  if (undrawn_) {
    nb::list undrawn;
    for (const UndrawnLayer& layer : *undrawn_) {
      undrawn.append(nb::make_tuple(layer.layer, layer.datatype, layer.shapes));
    }
    event["undrawn_layers"] = undrawn;
  }
  report_(event);
}

namespace {

// Opens the layout's reader (the direct reader where it can be had) and hands it to
// `write(reader, layers, options, after_read)` with the scene's layer table and options.
template <class Write>
auto with_scene_inputs(SceneRequest& request, StageReport& report, Write&& write) {
  report.start("parse");
  std::string why_not;
  std::unique_ptr<read::LayoutReader> reader = read::open_direct_reader(request.layout, why_not);
  if (reader) {
    report.reader(reader->description());
  } else {
    reader = std::make_unique<read::PythonApiReader>(request.layout);
    report.reader(reader->description() + " (" + why_not + ")");
  }
  const std::vector<read::LayerInfo> layout_layers = reader->layers();
  auto [layer_map, reverse_layer_map] = python::layer_maps(layout_layers, request.layers);
  SceneOptions options;
  options.grouping = request.grouping;
  for (auto [index, spec] : layer_map) {
    (void)spec;
    options.layers.push_back(host::as_int64(index));
  }
  if (report.wanted()) report.undrawn(undrawn_layers(*reader, layout_layers, options.layers));
  options.curve_tolerance = request.curve_tolerance;
  options.max_placements = [] { return host::settings::max_placements(); };
  options.max_message_bytes = [] { return host::settings::max_message_bytes(); };
  options.config_json = [] {
    nb::bytes config = host::json::dumps_bytes(viewer_config(), host::json::Style::compact);
    return std::string(config.c_str(), config.size());
  };
  options.cells = std::move(request.cells);
  nb::object patterns =
      request.exclude_layers.is_none() ? nb::object(nb::list()) : request.exclude_layers;
  write::LayerTable layers(python::scene_layers(request.layers, request.z_scale, patterns,
                                                layer_map, reverse_layer_map));
  // The layout is freed once it is read, with Ctrl-C held back meanwhile (see with_layout).
  return write(std::move(reader), layers, options,
               [&] { host::runtime::with_interrupts_held([&] { request.layout.reset(); }); });
}

}  // namespace

nb::str scene_message(SceneRequest request, StageReport& report) {
  nb::str text;
  with_scene_inputs(request, report,
                    [&](std::unique_ptr<read::LayoutReader> reader, write::LayerTable& layers,
                        const SceneOptions& options, const std::function<void()>& after_read) {
                      write_scene(std::move(reader), layers, options, report, after_read,
                                  [&](write::MessageText& message) { text = as_text(message); });
                    });
  Py_ssize_t size = 0;
  if (PyUnicode_AsUTF8AndSize(text.ptr(), &size) == nullptr) throw nb::python_error();
  report.count("bytes", size);
  return text;
}

write::GltfCounts scene_gltf(SceneRequest request, const write::GltfOptions& options,
                             const std::string& path, StageReport& report) {
  return with_scene_inputs(
      request, report,
      [&](std::unique_ptr<read::LayoutReader> reader, write::LayerTable& layers,
          const SceneOptions& scene_options, const std::function<void()>& after_read) {
        return write_scene_gltf(std::move(reader), layers, scene_options, report, after_read,
                                options, path);
      });
}

}  // namespace tarnwick::depthview
