// The fast route's stages in plain C++: a layout read through a LayoutReader, the plain layer
// table, the message text.
#include "tarnwick/core/depthview/scene.hpp"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tarnwick::depthview;

namespace {

// T has a square on layer 0 and places A once, moved by (10, 0) µm; A has a square on layer 1.
// Layer 2 exists but holds nothing.
class TwoCells final : public read::LayoutReader {
 public:
  explicit TwoCells(bool* alive) : alive_(alive) { *alive_ = true; }
  ~TwoCells() override { *alive_ = false; }
  double dbu() override { return 0.001; }
  std::vector<read::LayerInfo> layers() override { return {{0, 1, 0}, {1, 2, 0}, {2, 3, 0}}; }
  std::vector<std::int64_t> cells() override { return {0, 1}; }
  std::vector<std::int64_t> top_cells() override { return {0}; }
  std::string cell_name(std::int64_t cell) override { return cell == 0 ? "T" : "A"; }
  void shapes(std::int64_t cell, std::int64_t layer, read::ShapeBatch& batch) override {
    batch.clear();
    if (layer != cell) return;
    batch.kinds = {read::ShapeKind::polygon};
    batch.hull_sizes = {4};
    batch.coordinates = {0, 0, 1000, 0, 1000, 1000, 0, 1000};
  }
  void cell_instances(std::int64_t cell, std::vector<read::CellInstance>& out) override {
    out.clear();
    if (cell != 0) return;
    read::CellInstance a;
    a.target = 1;
    a.placements.base = model::Placement::simple(0, false, 10000, 0);
    out.push_back(a);
  }
  std::string description() const override { return "two cells"; }

 private:
  bool* alive_;
};

struct Stages final : SceneStages {
  void start(const char* stage) override { started.push_back(stage); }
  void count(const char* name, long long value) override { counts[name] = value; }
  std::vector<std::string> started;
  std::map<std::string, long long> counts;
};

write::SceneLayer layer(std::int64_t index, std::string name, bool excluded = false) {
  write::SceneLayer l;
  l.index = index;
  l.name_length = name.size();
  l.name = std::move(name);
  l.excluded = excluded;
  l.height = 0.5;
  l.zmin = 1.0;
  l.color_json = "\"#ff0000\"";
  l.polygons_index = index;
  return l;
}

std::string scene(model::Grouping grouping, std::vector<write::SceneLayer> layers, Stages& stages) {
  bool alive = false;
  bool read_before_release = false;
  SceneOptions options;
  options.grouping = grouping;
  options.layers = {0, 1, 2};
  options.max_placements = [] { return std::uint64_t{1000}; };
  options.max_message_bytes = [] { return std::uint64_t{1} << 30; };
  options.config_json = [] { return std::string("{}"); };
  write::LayerTable table(std::move(layers));
  std::string text;
  write_scene(
      std::make_unique<TwoCells>(&alive), table, options, stages,
      [&] { read_before_release = !alive; },
      [&](write::MessageText& message) {
        text.resize(message.size());
        message.write_to(text.data());
      });
  EXPECT_TRUE(read_before_release) << "the reader is released before after_read runs";
  return text;
}

}  // namespace

TEST(Scene, WritesBothGroupingsFromPlainLayersAndSkipsExcludedOnes) {
  for (const auto grouping : {model::Grouping::CELL, model::Grouping::LAYER}) {
    Stages stages;
    // Layer 2's values failed, but the scene never reaches it: no error.
    std::vector<write::SceneLayer> layers = {layer(0, "metal (1, 0)"), layer(1, "via (2, 0)", true),
                                             layer(2, "poly (3, 0)")};
    layers[2].lookup_error = std::make_exception_ptr(std::runtime_error("no such layer"));
    const std::string text = scene(grouping, std::move(layers), stages);
    EXPECT_NE(text.find("\"metal (1, 0)\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"#ff0000\""), std::string::npos);
    EXPECT_EQ(text.find("via"), std::string::npos);
    EXPECT_EQ(stages.started, (std::vector<std::string>{"convert", "encode"}));
    EXPECT_EQ(stages.counts["polygons"], 2);
  }
}

TEST(Scene, RaisesALayersKeptErrorWhereTheLayerIsUsed) {
  Stages stages;
  std::vector<write::SceneLayer> layers = {layer(0, "metal (1, 0)"), layer(1, "via (2, 0)")};
  layers[1].lookup_error = std::make_exception_ptr(std::runtime_error("bad thickness"));
  EXPECT_THROW(scene(model::Grouping::CELL, layers, stages), std::runtime_error);
  layers[1].lookup_error = nullptr;
  layers[1].message_error = std::make_exception_ptr(std::invalid_argument("bad colour"));
  EXPECT_THROW(scene(model::Grouping::LAYER, layers, stages), std::invalid_argument);
}
