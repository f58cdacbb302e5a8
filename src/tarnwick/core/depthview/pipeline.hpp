#pragma once
// The fast route of the scene: a KLayout layout to the viewer message, on the native scene only.
//
// Stages: "parse" (the layout read into the cell graph and the polygon pool, polygons simplified),
// "convert" (references combined, layers pruned, the viewer tree built) and "encode" (the message
// text written). No scene record is made on this route; its text equals, byte for byte, what the
// records' route gives (asdict, numpy_to_buffer_json, the package's JSON writer).
#include <nanobind/nanobind.h>

#include <chrono>
#include <optional>
#include <string>

#include "tarnwick/core/depthview/model/output.hpp"
#include "tarnwick/core/depthview/write/gltf_writer.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

// Stage times and counts of one conversion, for whoever asked (the command line, benchmarks):
// `report` (a callable or None) is called with {"stage": name} as each stage starts, and at the end
// with {"stage": "done", "seconds": {stage: seconds}, "counts": {...}, "reader": ...}.
class StageReport {
 public:
  explicit StageReport(nb::handle report) : report_(nb::borrow(report)) {}

  // Ends the running stage and starts `name`.
  void start(const char* name);
  // Ends the running stage.
  void stop();
  void count(const char* name, long long value) { counts_[name] = value; }
  void reader(const std::string& description) { reader_ = description; }
  // Sends the final report.
  void done();

 private:
  void start_clock(const char* name);

  nb::object report_;
  nb::dict seconds_, counts_;
  std::string reader_;
  const char* running_ = nullptr;
  std::chrono::steady_clock::time_point begin_;
};

struct SceneRequest {
  nb::object layout;  // a klayout.db.Layout; released once it has been read
  nb::object layers;  // {LayerSpec: PdkLayer}
  model::Output output;
  double z_scale;
  std::optional<double> curve_tolerance;
  nb::object exclude_layers;  // list of patterns or None
};

// The message content {"type": "data", "data": <scene>, "config": <configuration>} of the scene.
nb::str scene_message(SceneRequest request, StageReport& report);

// The same scene written as a glTF file at `path` (see write/gltf_writer.hpp).
write::GltfCounts scene_gltf(SceneRequest request, const write::GltfOptions& options,
                             const std::string& path, StageReport& report);

}  // namespace tarnwick::depthview
