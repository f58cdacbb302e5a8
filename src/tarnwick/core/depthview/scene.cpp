#include "tarnwick/core/depthview/scene.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <span>
#include <utility>

#include "tarnwick/core/depthview/read/parse.hpp"
#include "tarnwick/core/depthview/release_memory.hpp"
#include "tarnwick/core/depthview/transform/combine.hpp"
#include "tarnwick/core/depthview/transform/extract_aside.hpp"
#include "tarnwick/core/depthview/transform/native_views.hpp"
#include "tarnwick/core/depthview/transform/placement_count.hpp"
#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview {

namespace {

// The counts the report shows of a viewer tree: parts, placements, placed polygons.
template <class Tree, class View>
void count(const Tree& tree, const View& view, SceneStages& stages) {
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
  stages.count("parts", parts);
  stages.count("placements", placements);
  stages.count("placed_polygons", placed);
}

template <class View, class Tree>
void encode(const View& view, const Tree& tree, const write::LayerTable& layers,
            model::PolygonPool& pool, double units_per_micrometre, const SceneOptions& options,
            SceneStages& stages, const std::function<void(write::MessageText&)>& take) {
  write::check_text_size(tree, tree.by_layer ? 7 : 6, options.max_message_bytes(),
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
  count(tree, view, stages);
  const std::vector<write::LayerValues> values = layers.message_values();
  const std::string config = options.config_json();
  const write::MessageInput input{values, &pool, units_per_micrometre, config};
  write::MessageText text = write::write_message(view, tree, input);
  take(text);
}

}  // namespace

std::vector<UndrawnLayer> undrawn_layers(read::LayoutReader& reader,
                                         const std::vector<read::LayerInfo>& layout_layers,
                                         const std::vector<std::int64_t>& drawn) {
  std::vector<std::int64_t> indices;
  std::vector<const read::LayerInfo*> infos;
  for (const read::LayerInfo& info : layout_layers) {
    if (std::find(drawn.begin(), drawn.end(), info.index) != drawn.end()) continue;
    indices.push_back(info.index);
    infos.push_back(&info);
  }
  const std::vector<std::uint64_t> counts = reader.shape_counts(indices);
  std::map<std::pair<std::int64_t, std::int64_t>, std::uint64_t> by_spec;
  for (std::size_t i = 0; i < infos.size(); ++i) {
    if (counts[i] > 0) by_spec[{infos[i]->layer, infos[i]->datatype}] += counts[i];
  }
  std::vector<UndrawnLayer> result;
  for (const auto& [spec, shapes] : by_spec) result.push_back({spec.first, spec.second, shapes});
  return result;
}

namespace {

// Reads, combines and arranges the scene, then hands it to `finish(view, tree, pool,
// units_per_micrometre)` (by cell: the combined view; by layer: the pruned forest).
template <class Finish>
auto build_scene(std::unique_ptr<read::LayoutReader> reader, write::LayerTable& layers,
                 const SceneOptions& options, SceneStages& stages,
                 const std::function<void()>& after_read, Finish&& finish) {
  const double units_per_micrometre = 1.0 / reader->dbu();
  read::ParseOptions parse_options;
  parse_options.layers = options.layers;
  transform::PolygonExtractor extractor(units_per_micrometre, options.curve_tolerance);
  read::Extraction extraction;
  // Polygons are simplified on a second thread while the layout is read and then freed (the
  // extraction is dropped on failure).
  std::optional<transform::ExtractionAside> aside;
  if (options.curve_tolerance) {
    aside.emplace(units_per_micrometre, options.curve_tolerance, extraction.pool);
    parse_options.aside = &*aside;
  }
  const model::CellGraph graph =
      read::parse(*reader, options.cells ? *options.cells : reader->top_cells(), parse_options,
                  extractor, extraction);
  // The layout and what the parse kept to find shapes again are not needed any more: their memory
  // goes before the scene's grows.
  extraction.known = {};
  extraction.keys = {};
  reader.reset();
  if (after_read) after_read();
  if (aside) aside->finish();
  model::PolygonPool pool = std::move(extraction.pool);
  release_free_memory();
  stages.count("polygons", static_cast<long long>(pool.size()));
  transform::check_placement_limit(graph, options.max_placements());

  stages.start("convert");
  transform::GraphView graph_view(graph);
  const std::vector<transform::GraphView::Node> tops = graph_view.tops();
  const transform::NativeCombined combined =
      transform::combine(graph_view, std::span<const transform::GraphView::Node>(tops));
  transform::CombinedView view(combined);
  if (options.grouping == model::Grouping::CELL) {
    std::vector<std::size_t> roots;
    for (std::size_t t = 0; t < combined.top_count; ++t) roots.push_back(t);
    const auto tree = write::by_cell(view, std::span<const std::size_t>(roots), layers);
    return finish(view, tree, pool, units_per_micrometre);
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
  return finish(forest, tree, pool, units_per_micrometre);
}

}  // namespace

void write_scene(std::unique_ptr<read::LayoutReader> reader, write::LayerTable& layers,
                 const SceneOptions& options, SceneStages& stages,
                 const std::function<void()>& after_read,
                 const std::function<void(write::MessageText&)>& take) {
  build_scene(std::move(reader), layers, options, stages, after_read,
              [&](const auto& view, const auto& tree, model::PolygonPool& pool,
                  double units_per_micrometre) {
                stages.start("encode");
                encode(view, tree, layers, pool, units_per_micrometre, options, stages, take);
              });
}

write::GltfCounts write_scene_gltf(std::unique_ptr<read::LayoutReader> reader,
                                   write::LayerTable& layers, const SceneOptions& options,
                                   SceneStages& stages, const std::function<void()>& after_read,
                                   const write::GltfOptions& gltf, const std::string& path) {
  return build_scene(
      std::move(reader), layers, options, stages, after_read,
      [&](const auto& view, const auto& tree, model::PolygonPool& pool,
          double units_per_micrometre) {
        count(tree, view, stages);
        stages.start("encode");
        const std::vector<write::LayerValues> values = layers.message_values();
        const write::GltfScene scene = write::gltf_scene(view, tree, values);
        const write::GltfCounts counts =
            write::write_gltf(scene, values, pool, units_per_micrometre, gltf, path);
        stages.count("bytes", static_cast<long long>(counts.bytes));
        stages.count("meshes", static_cast<long long>(counts.meshes));
        stages.count("triangles", static_cast<long long>(counts.triangles));
        return counts;
      });
}

}  // namespace tarnwick::depthview
