#pragma once
// The fast route of the scene at its Python edge: a klayout.db.Layout and the PDK layer properties
// in, the viewer message out. The reader, the plain layer table and the settings are made here;
// the scene itself is plain C++ (scene.hpp).
//
// Stages: "parse" (the layout read into the cell graph and the polygon pool, polygons simplified),
// "convert" (references combined, layers pruned, the viewer tree built) and "encode" (the message
// text written). No scene record is made on this route; its text equals, byte for byte, what the
// records' route gives (asdict, numpy_to_buffer_json, the package's JSON writer).
#include <nanobind/nanobind.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tarnwick/core/depthview/model/grouping.hpp"
#include "tarnwick/core/depthview/scene.hpp"
#include "tarnwick/core/depthview/write/gltf_writer.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

// Stage times and counts of one conversion, for whoever asked (the command line, benchmarks):
// `report` (a callable or None) is called with {"stage": name} as each stage starts, and at the end
// with {"stage": "done", "seconds": {stage: seconds}, "counts": {...}, "reader": ...}. On the fast
// route the final event also holds "undrawn_layers": [(layer, datatype, shapes), ...], the layers
// with shapes that have no layer properties, in (layer, datatype) order.
class StageReport final : public SceneStages {
 public:
  explicit StageReport(nb::handle report) : report_(nb::borrow(report)) {}

  // Ends the running stage and starts `name`.
  void start(const char* name) override;
  // Ends the running stage.
  void stop();
  void count(const char* name, long long value) override { counts_[name] = value; }
  void reader(const std::string& description) { reader_ = description; }
  void undrawn(std::vector<UndrawnLayer> layers) { undrawn_ = std::move(layers); }
  // Whether anyone receives the report (what only the report shows need not be worked out).
  bool wanted() const { return !report_.is_none(); }
  // Sends the final report.
  void done();

 private:
  void start_clock(const char* name);

  nb::object report_;
  nb::dict seconds_, counts_;
  std::string reader_;
  std::optional<std::vector<UndrawnLayer>> undrawn_;
  const char* running_ = nullptr;
  std::chrono::steady_clock::time_point begin_;
};

struct SceneRequest {
  nb::object layout;  // a klayout.db.Layout; released once it has been read
  nb::object layers;  // {LayerSpec: PdkLayer}
  model::Grouping grouping;
  double z_scale;
  std::optional<double> curve_tolerance;
  nb::object exclude_layers;  // list of patterns or None
  // The cells to draw, as layout cell indices; every top cell of the layout when not given.
  std::optional<std::vector<std::int64_t>> cells = std::nullopt;
};

// The message content {"type": "data", "data": <scene>, "config": <configuration>} of the scene.
nb::str scene_message(SceneRequest request, StageReport& report);

// The same scene written as a glTF file at `path` (see write/gltf_writer.hpp).
write::GltfCounts scene_gltf(SceneRequest request, const write::GltfOptions& options,
                             const std::string& path, StageReport& report);

}  // namespace tarnwick::depthview
