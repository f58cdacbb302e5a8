#pragma once
// The scene of the fast route in plain C++: a layout, read through a LayoutReader, to the viewer
// message text. No Python in here: the caller makes the layer table and the settings, and turns
// the text into what it hands on.
//
// Stages: "parse" (the layout read into the cell graph and the polygon pool, polygons simplified;
// the caller starts it, as it opens the reader), "convert" (cell instances combined, layers
// pruned, the viewer tree built) and "encode" (the message text written).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/model/grouping.hpp"
#include "tarnwick/core/depthview/read/layout_reader.hpp"
#include "tarnwick/core/depthview/write/gltf_writer.hpp"
#include "tarnwick/core/depthview/write/layer_table.hpp"
#include "tarnwick/core/depthview/write/message_text.hpp"

namespace tarnwick::depthview {

// Where the stages report: each stage's start and the counts of the scene.
class SceneStages {
 public:
  virtual ~SceneStages() = default;
  virtual void start(const char* stage) = 0;
  virtual void count(const char* name, long long value) = 0;
};

// A layer of the layout that holds shapes the scene does not draw.
struct UndrawnLayer {
  std::int64_t layer;
  std::int64_t datatype;
  std::uint64_t shapes;  // the shapes of all cells on it, each cell's own counted once
};

// The layers of `layout_layers` that are not `drawn` (layer indices) and hold shapes, as
// (layer, datatype, shapes) in (layer, datatype) order; equal pairs are added up. Counts container
// sizes through the reader, without walking shapes.
std::vector<UndrawnLayer> undrawn_layers(read::LayoutReader& reader,
                                         const std::vector<read::LayerInfo>& layout_layers,
                                         const std::vector<std::int64_t>& drawn);

struct SceneOptions {
  model::Grouping grouping = model::Grouping::LAYER;
  std::vector<std::int64_t> layers;  // the layout layers read, in the layout's order
  // The cells to draw, as layout cell indices; every top cell of the layout when not given.
  std::optional<std::vector<std::int64_t>> cells;
  std::optional<double> curve_tolerance;
  // Asked when they are needed, in this order: after the parse, the most placements the scene may
  // draw; at the encode stage, the most bytes its text may take and the viewer configuration as
  // JSON text.
  std::function<std::uint64_t()> max_placements;
  std::function<std::uint64_t()> max_message_bytes;
  std::function<std::string()> config_json;
};

// Reads the layout through `reader` (released once the layout is read, and then `after_read` is
// called so that the caller can free the layout itself), builds the scene grouped as asked and
// hands the message text to `take` (the text refers to the scene, which lives until `take`
// returns).
void write_scene(std::unique_ptr<read::LayoutReader> reader, write::LayerTable& layers,
                 const SceneOptions& options, SceneStages& stages,
                 const std::function<void()>& after_read,
                 const std::function<void(write::MessageText&)>& take);

// The same scene written as a glTF file at `path` (see write/gltf_writer.hpp); its stage
// "encode" writes the file.
write::GltfCounts write_scene_gltf(std::unique_ptr<read::LayoutReader> reader,
                                   write::LayerTable& layers, const SceneOptions& options,
                                   SceneStages& stages, const std::function<void()>& after_read,
                                   const write::GltfOptions& gltf, const std::string& path);

}  // namespace tarnwick::depthview
