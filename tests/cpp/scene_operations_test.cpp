// The native scene's operations on a small hand-made cell graph: combination, layer pruning, the
// viewer tree and the message writer.
#include <gtest/gtest.h>

#include <string>

#include "tarnwick/core/depthview/model/cell_graph.hpp"
#include "tarnwick/core/depthview/transform/combine.hpp"
#include "tarnwick/core/depthview/transform/native_views.hpp"
#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

using namespace tarnwick::depthview;
using model::Placement;

namespace {

// T (polygons on layer 0) places A twice; A (polygons on layer 1) places B as an array of two;
// B has polygons on layer 0.
model::CellGraph small_graph() {
  model::CellGraph graph;
  graph.tops = {0};
  auto& t = graph.cells[0];
  t.index = 0;
  t.name = "T";
  t.polygons = {{0, {0}}};
  model::CellInstancePlacements p1, p2;
  p1.base = Placement::simple(1, false, 100, 0);
  p2.base = Placement::simple(0, true, 0, 500);
  t.cell_instances = {{1, p1}, {1, p2}};
  auto& a = graph.cells[1];
  a.index = 1;
  a.name = "A";
  a.polygons = {{1, {1}}};
  model::CellInstancePlacements b;
  b.base = Placement::simple(3, false, 5, 5);
  b.na = 2;
  b.ax = 20;
  a.cell_instances = {{2, b}};
  auto& leaf = graph.cells[2];
  leaf.index = 2;
  leaf.name = "B";
  leaf.polygons = {{0, {2}}};
  return graph;
}

class Layers : public write::LayerLookup {
 public:
  const write::LayerEntry* find(std::int64_t index) override {
    if (index < 0 || index > 1) return nullptr;
    entries_[index] = {static_cast<std::uint32_t>(index), index, index, excluded_ == index};
    return &entries_[index];
  }
  std::int64_t excluded_ = -1;

 private:
  write::LayerEntry entries_[2];
};

std::vector<write::LayerValues> values() {
  return {{"WG (1, 0)", "\"#ff0000\"", 0.22, 0.0}, {"M1 (2, 0)", "\"#00ff00\"", 0.5, 1.5}};
}

std::string text_of(write::MessageText text) {
  std::string out(text.size(), '?');
  text.write_to(out.data());
  return out;
}

}  // namespace

TEST(Combine, GroupsSiblingsAndComposesParentAfterChild) {
  const model::CellGraph graph = small_graph();
  transform::GraphView view(graph);
  const auto tops = view.tops();
  const auto tree = transform::combine(view, std::span<const transform::GraphView::Node>(tops));
  ASSERT_EQ(tree.nodes.size(), 3u);  // T, one A for both instances, one B
  const auto& a = tree.nodes[1];
  const auto& b = tree.nodes[2];
  EXPECT_EQ(a.members.size(), 2u);
  ASSERT_EQ(a.placements.size(), 2u);
  EXPECT_TRUE(a.placements[1].same_as(Placement::simple(0, true, 0, 500)));
  // For each own placement (outer), each parent placement (inner): a1·b1, a2·b1, a1·b2, a2·b2.
  ASSERT_EQ(b.placements.size(), 4u);
  std::vector<Placement> bs;
  graph.cell(1).cell_instances[0].placements.expand(bs);
  EXPECT_TRUE(b.placements[1].same_as(model::compose(a.placements[1], bs[0])));
  EXPECT_TRUE(b.placements[2].same_as(model::compose(a.placements[0], bs[1])));
}

TEST(ViewerTree, ByCellLeavesOutExcludedLayersAndEmptyCells) {
  const model::CellGraph graph = small_graph();
  transform::GraphView graph_view(graph);
  const auto tops = graph_view.tops();
  const auto combined =
      transform::combine(graph_view, std::span<const transform::GraphView::Node>(tops));
  transform::CombinedView view(combined);
  Layers layers;
  layers.excluded_ = 0;  // WG out: B has nothing left and goes, A keeps its M1 part
  const std::vector<std::size_t> roots{0};
  const auto tree = write::by_cell(view, std::span<const std::size_t>(roots), layers);
  const std::vector<write::LayerValues> layer_values = values();
  model::PolygonPool pool;
  for (int k = 0; k < 3; ++k) pool.add(std::vector<std::int64_t>{0, 0, 1000, 0, 0, 1000 * k});
  const write::MessageInput input{layer_values, &pool, 1000.0, "{}"};
  const std::string message = text_of(write::write_message(view, tree, input));
  EXPECT_NE(message.find("\"id\":\"/Cells/T/A/M1 (2, 0)\""), std::string::npos);
  EXPECT_EQ(message.find("WG"), std::string::npos);
  EXPECT_EQ(message.find("/Cells/T/A/B"), std::string::npos);
  EXPECT_NE(message.find("\"loc\":[[0,0,1.5],[0,0,0,1]],\"shape\":{\"refs\":[1],\"height\":0.5,"
                         "\"matrices\":{\"shape\":[12],\"dtype\":\"float32\",\"buffer\":\""),
            std::string::npos);
  EXPECT_NE(message.find("\"format\":\"GDS\",\"instances\":[{\"shape\":[6],"), std::string::npos);
  EXPECT_EQ(message.substr(message.size() - 14), "},\"config\":{}}");
}

TEST(ViewerTree, ByLayerPrunesEachLayerAndKeepsEmptyCellNodes) {
  const model::CellGraph graph = small_graph();
  transform::GraphView graph_view(graph);
  const auto tops = graph_view.tops();
  const auto combined =
      transform::combine(graph_view, std::span<const transform::GraphView::Node>(tops));
  transform::CombinedView view(combined);
  transform::PrunedForest forest(view);
  Layers layers;
  const auto tree = write::by_layer(
      forest,
      [&](auto&& visit) {
        for (const std::int64_t layer : {0, 1}) {
          if (auto root = forest.add(0, layer)) visit(layer, *root);
        }
      },
      layers);
  const std::vector<write::LayerValues> layer_values = values();
  model::PolygonPool pool;
  const write::MessageInput input{layer_values, &pool, 1000.0, "{}"};
  std::string message = text_of(write::write_message(forest, tree, input));
  // Buffers cut out: the tree's own text, pinned.
  for (std::size_t at; (at = message.find("\"buffer\":\"")) != std::string::npos;) {
    message.erase(at + 10, message.find('"', at + 10) - (at + 10));
    message.replace(at, 10, "\"b\":\"");
  }
  const std::string part_base = "\"version\":\"3\",\"loc\":[[0.0,0.0,0.0],[0.0,0.0,0.0,1.0]]";
  EXPECT_EQ(
      message,
      "{\"type\":\"data\",\"data\":{\"name\":\"Layers\",\"id\":\"/Layers\"," + part_base +
          ",\"parts\":[{\"name\":\"WG (1, 0)\",\"id\":\"/Layers/WG (1, 0)\"," + part_base +
          ",\"parts\":[{\"name\":\"T\",\"id\":\"/Layers/WG (1, 0)/T\"," + part_base +
          ",\"parts\":[{\"name\":\"components\",\"id\":\"/Layers/WG (1, 0)/T/components\","
          "\"version\":\"3\",\"loc\":[[0,0,0.0],[0,0,0,1]],\"shape\":{\"refs\":[0],\"height\":0.22,"
          "\"matrices\":{\"shape\":[0],\"dtype\":\"float32\",\"b\":\"\",\"codec\":\"b64\"}},"
          "\"color\":\"#ff0000\",\"renderback\":false,\"state\":[1,1],\"type\":\"polygon\","
          "\"subtype\":\"solid\"},{\"name\":\"A\",\"id\":\"/Layers/WG (1, 0)/T/A\"," +
          part_base + ",\"parts\":[{\"name\":\"B\",\"id\":\"/Layers/WG (1, 0)/T/A/B\"," +
          part_base +
          ",\"parts\":[{\"name\":\"components\",\"id\":\"/Layers/WG (1, 0)/T/A/B/components\","
          "\"version\":\"3\",\"loc\":[[0,0,0.0],[0,0,0,1]],\"shape\":{\"refs\":[2],\"height\":0.22,"
          "\"matrices\":{\"shape\":[24],\"dtype\":\"float32\",\"b\":\"\",\"codec\":\"b64\"}},"
          "\"color\":\"#ff0000\",\"renderback\":false,\"state\":[1,1],\"type\":\"polygon\","
          "\"subtype\":\"solid\"}]}]}]}]},{\"name\":\"M1 (2, 0)\",\"id\":\"/Layers/M1 (2, 0)\"," +
          part_base + ",\"parts\":[{\"name\":\"T\",\"id\":\"/Layers/M1 (2, 0)/T\"," + part_base +
          ",\"parts\":[{\"name\":\"A\",\"id\":\"/Layers/M1 (2, 0)/T/A\"," + part_base +
          ",\"parts\":[{\"name\":\"components\",\"id\":\"/Layers/M1 (2, 0)/T/A/components\","
          "\"version\":\"3\",\"loc\":[[0,0,1.5],[0,0,0,1]],\"shape\":{\"refs\":[1],\"height\":0.5,"
          "\"matrices\":{\"shape\":[12],\"dtype\":\"float32\",\"b\":\"\",\"codec\":\"b64\"}},"
          "\"color\":\"#00ff00\",\"renderback\":false,\"state\":[1,1],\"type\":\"polygon\","
          "\"subtype\":\"solid\"}]}]}]}],\"format\":\"GDS\"},\"config\":{}}");
}
