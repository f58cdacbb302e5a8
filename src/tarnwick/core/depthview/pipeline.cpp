#include "tarnwick/core/depthview/pipeline.hpp"

#include <memory>
#include <vector>

#include "tarnwick/core/depthview/python/layer_table.hpp"
#include "tarnwick/core/depthview/read/direct_reader.hpp"
#include "tarnwick/core/depthview/read/parse.hpp"
#include "tarnwick/core/depthview/read/python_reader.hpp"
#include "tarnwick/core/depthview/release_memory.hpp"
#include "tarnwick/core/depthview/transform/combine.hpp"
#include "tarnwick/core/depthview/transform/native_views.hpp"
#include "tarnwick/core/depthview/transform/placement_count.hpp"
#include "tarnwick/core/depthview/viewer_config.hpp"
#include "tarnwick/core/depthview/write/gltf_writer.hpp"
#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/json.hpp"
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

// The counts the report shows of a viewer tree: parts, placements, placed polygons.
template <class Tree, class View>
void count(const Tree& tree, const View& view, StageReport& report) {
  long long parts = 0, placements = 0, placed = 0;
  for (const auto& node : tree.nodes) {
    if (node.kind != Tree::Kind::layer_part && node.kind != Tree::Kind::components) continue;
    const auto n = view.is_reference(node.source)
                       ? static_cast<long long>(view.placements(node.source).size())
                       : 0LL;
    parts += 1;
    placements += n;
    placed += static_cast<long long>(node.refs->size()) * (n > 0 ? n : 1);
  }
  report.count("parts", parts);
  report.count("placements", placements);
  report.count("placed_polygons", placed);
}

template <class View, class Tree>
nb::str encode(const View& view, const Tree& tree, const python::LayerTable& layers,
               model::PolygonPool& pool, double units_per_micrometre, StageReport& report) {
  write::check_text_size(tree, tree.by_layer ? 7 : 6, host::settings::max_message_bytes(),
                         [&](const typename Tree::Node& node) -> std::uint64_t {
                           switch (node.kind) {
                             case Tree::Kind::cell:
                               return view.cell(node.source).name.size();
                             case Tree::Kind::components:
                               return 10;
                             default:
                               return layers.name_size(node.layer);
                           }
                         });
  count(tree, view, report);
  const std::vector<write::LayerValues> values = layers.message_values();
  nb::bytes config = host::json::dumps_bytes(viewer_config(), host::json::Style::compact);
  const write::MessageInput input{values, &pool, units_per_micrometre,
                                  std::string_view(config.c_str(), config.size())};
  write::MessageText text = write::write_message(view, tree, input);
  return as_text(text);
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
  report_(event);
}

namespace {

// Reads, combines and arranges the scene, then hands it to `finish(view, tree, layers, pool,
// units_per_micrometre)` (by cell: the combined view; by layer: the pruned forest).
template <class Finish>
auto convert_scene(SceneRequest request, StageReport& report, Finish&& finish) {
  report.start("parse");
  std::string why_not;
  std::unique_ptr<read::LayoutReader> reader = read::open_direct_reader(request.layout, why_not);
  if (reader) {
    report.reader(reader->description());
  } else {
    reader = std::make_unique<read::PythonReader>(request.layout);
    report.reader(reader->description() + " (" + why_not + ")");
  }
  const double units_per_micrometre = 1.0 / reader->dbu();
  auto [layer_map, reverse_layer_map] = python::layer_maps(reader->layers(), request.layers);
  read::ParseOptions options;
  for (auto [index, spec] : layer_map) {
    (void)spec;
    options.layers.push_back(host::as_int64(index));
  }
  transform::PolygonExtractor extractor(units_per_micrometre, request.curve_tolerance);
  read::Extraction extraction;
  const model::CellGraph graph =
      read::parse(*reader, reader->top_cells(), options, extractor, extraction);
  // The layout and what the parse kept to find shapes again are not needed any more: their memory
  // goes before the scene's grows.
  model::PolygonPool pool = std::move(extraction.pool);
  extraction = read::Extraction();
  reader.reset();
  request.layout.reset();
  release_free_memory();
  report.count("polygons", static_cast<long long>(pool.size()));
  transform::check_placement_limit(graph, host::settings::max_placements());

  report.start("convert");
  transform::GraphView graph_view(graph);
  const std::vector<transform::GraphView::Node> tops = graph_view.tops();
  const transform::NativeCombined combined =
      transform::combine(graph_view, std::span<const transform::GraphView::Node>(tops));
  transform::CombinedView view(combined);
  nb::object patterns =
      request.exclude_layers.is_none() ? nb::object(nb::list()) : request.exclude_layers;
  python::LayerTable layers(request.layers, request.z_scale, patterns, layer_map,
                            reverse_layer_map);
  if (request.output == model::Output::CELL) {
    std::vector<std::size_t> roots;
    for (std::size_t t = 0; t < combined.top_count; ++t) roots.push_back(t);
    const auto tree = write::by_cell(view, std::span<const std::size_t>(roots), layers);
    return finish(view, tree, layers, pool, units_per_micrometre);
  }
    transform::PrunedForest forest(view);
    const auto tree = write::by_layer(
        forest,
        [&](auto&& visit) {
          for (std::size_t t = 0; t < combined.top_count; ++t) {
            for (const std::int64_t layer : options.layers) {
              if (auto root = forest.add(t, layer)) visit(layer, *root);
            }
          }
        },
        layers);
    return finish(forest, tree, layers, pool, units_per_micrometre);
}

}  // namespace

nb::str scene_message(SceneRequest request, StageReport& report) {
  nb::str text =
      convert_scene(std::move(request), report,
                    [&](const auto& view, const auto& tree, python::LayerTable& layers,
                        model::PolygonPool& pool, double units_per_micrometre) {
                      report.start("encode");
                      return encode(view, tree, layers, pool, units_per_micrometre, report);
                    });
  Py_ssize_t size = 0;
  if (PyUnicode_AsUTF8AndSize(text.ptr(), &size) == nullptr) throw nb::python_error();
  report.count("bytes", size);
  return text;
}

write::GltfCounts scene_gltf(SceneRequest request, const write::GltfOptions& options,
                             const std::string& path, StageReport& report) {
  return convert_scene(std::move(request), report,
                       [&](const auto& view, const auto& tree, python::LayerTable& layers,
                           model::PolygonPool& pool, double units_per_micrometre) {
                         count(tree, view, report);
                         report.start("encode");
                         const std::vector<write::LayerValues> values = layers.message_values();
                         const write::GltfScene scene = write::gltf_scene(view, tree, values);
                         const write::GltfCounts counts = write::write_gltf(
                             scene, values, pool, units_per_micrometre, options, path);
                         report.count("bytes", static_cast<long long>(counts.bytes));
                         report.count("meshes", static_cast<long long>(counts.meshes));
                         report.count("triangles", static_cast<long long>(counts.triangles));
                         return counts;
                       });
}

}  // namespace tarnwick::depthview
