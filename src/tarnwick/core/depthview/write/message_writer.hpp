#pragma once
// The viewer message, written once, from the native scene: the viewer tree of the fast route, the
// layer values, the polygon pool and the viewer configuration. No Python in here.
//
// The text is {"type":"data","data":<scene>,"config":<configuration>}, compact, with the scene in
// the map form of its records (fields in their order, empty lists and maps left out) and every
// float32 array as a base64 buffer record {"shape":[n],"dtype":"float32","buffer":...,"codec":
// "b64"}: byte for byte what the records' own route (asdict, numpy_to_buffer_json, the package's
// JSON writer) gives for the same scene.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"
#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/transform/native_views.hpp"
#include "tarnwick/core/depthview/write/message_text.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"
#include "tarnwick/support/json_text.hpp"

namespace tarnwick::depthview::write {

// What the message shows of one layer.
struct LayerValues {
  std::string name;        // UTF-8 text
  std::string color_json;  // the colour value as JSON text
  double height = 0.0;
  double zmin = 0.0;
};

struct MessageInput {
  std::span<const LayerValues> layers;  // by the slots of the viewer tree's nodes
  // The scene's polygons, pool index 0 first. Writing the text reads it once and frees it
  // as it goes.
  model::PolygonPool* pool;
  double units_per_micrometre;
  std::string_view config_json;  // the viewer configuration as JSON text
};

// Buffer records and plain pieces, shared by the writer's parts.
namespace pieces {
// The buffer record of `count` float32 values whose bytes `fill` writes in chunks: appends a block
// to `text`. `fill(out)` is called with a pointer to room for count float values.
std::size_t buffer_record_size(std::size_t count);
void append_matrices(MessageText& text, const std::vector<model::Placement>* placements,
                     double units_per_micrometre);
void append_empty_matrices(MessageText& text);
void append_pool_polygons(MessageText& text, model::PolygonPool& pool, double units_per_micrometre);
void append_refs(std::string& out, const std::vector<std::int64_t>& refs);
}  // namespace pieces

// The message of the viewer tree `tree` whose sources `view` shows (CombinedView by cell,
// PrunedForest by layer).
template <class View>
MessageText write_message(const View& view,
                          const ViewerTree<typename View::Node, transform::PolygonList>& tree,
                          const MessageInput& input) {
  using Tree = ViewerTree<typename View::Node, transform::PolygonList>;
  using support::json_text::append_float;
  using support::json_text::append_string;
  MessageText text;
  // The piece being written; a new one after each node once it is large.
  std::string* piece = &text.literal();
  auto seal = [&] {
    text.seal_if_large();
    piece = &text.literal();
  };
  constexpr std::string_view kOrigin = "\"loc\":[[0.0,0.0,0.0],[0.0,0.0,0.0,1.0]]";
  std::string id = tree.by_layer ? "/Layers" : "/Cells";
  *piece += "{\"type\":\"data\",\"data\":{\"name\":";
  *piece += tree.by_layer ? "\"Layers\"" : "\"Cells\"";
  *piece += ",\"id\":";
  append_string(*piece, id);
  *piece += ",\"version\":\"3\",";
  *piece += kOrigin;

  auto name_of = [&](const typename Tree::Node& node) -> std::string_view {
    switch (node.kind) {
      case Tree::Kind::cell:
        return view.cell(node.source).name;
      case Tree::Kind::components:
        return "components";
      default:
        return input.layers[node.layer].name;
    }
  };
  // Opens a node's map: name, id, version, location; `id` is extended by the node's name.
  auto open = [&](const typename Tree::Node& node) {
    const std::string_view name = name_of(node);
    id += '/';
    id += name;
    *piece += "{\"name\":";
    append_string(*piece, name);
    *piece += ",\"id\":";
    append_string(*piece, id);
    *piece += ",\"version\":\"3\",";
    if (node.kind == Tree::Kind::cell || node.kind == Tree::Kind::layer_group) {
      *piece += kOrigin;
      return;
    }
    const LayerValues& layer = input.layers[node.layer];
    *piece += "\"loc\":[[0,0,";
    append_float(*piece, layer.zmin);
    *piece += "],[0,0,0,1]],\"shape\":{";
    if (!node.refs->empty()) {
      *piece += "\"refs\":";
      pieces::append_refs(*piece, *node.refs);
      *piece += ',';
    }
    *piece += "\"height\":";
    append_float(*piece, layer.height);
    *piece += ",\"matrices\":";
    if (view.is_reference(node.source)) {
      pieces::append_matrices(text, &view.placements(node.source), input.units_per_micrometre);
    } else {
      pieces::append_empty_matrices(text);
    }
    *piece += "},\"color\":";
    *piece += layer.color_json;
    *piece += ",\"renderback\":false,\"state\":[1,1],\"type\":\"polygon\",\"subtype\":\"solid\"";
  };

  struct Frame {
    std::uint32_t node;
    std::size_t next = 0;
    std::size_t id_length;
  };
  std::vector<Frame> stack;
  // Writes the list of `children` of the current map as "parts", then closes the maps left.
  if (!tree.roots.empty()) {
    *piece += ",\"parts\":[";
    for (std::size_t r = 0; r < tree.roots.size(); ++r) {
      if (r != 0) *piece += ',';
      stack.push_back({tree.roots[r], 0, id.size()});
      open(tree.nodes[tree.roots[r]]);
      while (!stack.empty()) {
        seal();
        Frame& frame = stack.back();
        const auto& node = tree.nodes[frame.node];
        if (frame.next < node.children.size()) {
          *piece += frame.next == 0 ? ",\"parts\":[" : ",";
          const std::uint32_t child = node.children[frame.next++];
          stack.push_back({child, 0, id.size()});
          open(tree.nodes[child]);
          continue;
        }
        if (!node.children.empty()) *piece += ']';
        *piece += '}';
        id.resize(frame.id_length);
        stack.pop_back();
      }
    }
    *piece += ']';
  }
  seal();
  *piece += ",\"format\":\"GDS\"";
  if (input.pool->size() != 0) {
    *piece += ",\"instances\":";
    pieces::append_pool_polygons(text, *input.pool, input.units_per_micrometre);
  }
  *piece += "},\"config\":";
  *piece += input.config_json;
  *piece += '}';
  return text;
}

}  // namespace tarnwick::depthview::write
