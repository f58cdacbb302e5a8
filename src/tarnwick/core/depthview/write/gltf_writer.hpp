#pragma once
// The scene as a glTF 2.0 file (binary .glb or text .gltf with its buffer inside), written from the
// same viewer tree and polygon pool as the viewer message. No Python in here.
//
// Every polygon list of the tree (one cell's polygons on one layer) becomes one mesh, made once
// however often it is placed: each polygon extruded from 0 to its layer's height, caps cut into
// triangles, a side wall per edge; its vertices are the ring's points at both heights (no normals:
// viewers shade the faces flat). Nodes follow the tree (cells, layers) under one root that turns
// the layout's z-up into glTF's y-up and scales micrometres to metres; a part's node is lifted to
// its layer's bottom. A part placed several times carries its placements through
// EXT_mesh_gpu_instancing, or, when instancing is off, one child node per placement. One material
// per layer, its colour the layer's. The same scene always gives the same bytes.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"
#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/transform/native_views.hpp"
#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview::write {

struct GltfOptions {
  bool binary = true;      // .glb; else .gltf text with the buffer as a data URI
  bool instancing = true;  // EXT_mesh_gpu_instancing; else one node per placement
  double metres_per_micrometre = 1e-6;
  double z_scale = 1.0;  // recorded in the file's asset.extras
  std::string generator = "tarnwick";
};

// The scene tree as the glTF writer takes it: nodes in the tree's order, names set.
struct GltfScene {
  struct Node {
    std::string name;
    std::vector<std::uint32_t> children;
    // A part: its layer's slot, its polygons, and its placements (null: drawn once, in place).
    bool part = false;
    std::uint32_t layer = 0;
    std::string cell;  // the part's cell, for the mesh's name
    transform::PolygonList refs = nullptr;
    const std::vector<model::Placement>* placements = nullptr;
  };
  std::string root_name;
  std::vector<Node> nodes;
  std::vector<std::uint32_t> roots;
};

// The scene of the viewer tree `tree` whose sources `view` shows (CombinedView by cell,
// PrunedForest by layer), with the layer names of `layers`.
template <class View>
GltfScene gltf_scene(const View& view,
                     const ViewerTree<typename View::Node, transform::PolygonList>& tree,
                     std::span<const LayerValues> layers) {
  using Tree = ViewerTree<typename View::Node, transform::PolygonList>;
  GltfScene scene;
  scene.root_name = tree.by_layer ? "Layers" : "Cells";
  scene.roots = tree.roots;
  scene.nodes.reserve(tree.nodes.size());
  for (const auto& node : tree.nodes) {
    GltfScene::Node out;
    out.children = node.children;
    switch (node.kind) {
      case Tree::Kind::cell:
        out.name = view.cell(node.source).name;
        break;
      case Tree::Kind::layer_group:
        out.name = layers[node.layer].name;
        break;
      case Tree::Kind::layer_part:
      case Tree::Kind::components:
        out.name = node.kind == Tree::Kind::components ? "components" : layers[node.layer].name;
        out.part = true;
        out.layer = node.layer;
        out.cell = view.cell(node.source).name;
        out.refs = node.refs;
        if (view.is_reference(node.source)) out.placements = &view.placements(node.source);
        break;
    }
    scene.nodes.push_back(std::move(out));
  }
  return scene;
}

// A scene too large for the container (a GLB file and a glTF buffer hold at most 4 GiB).
struct GltfTooLarge : std::length_error {
  using std::length_error::length_error;
};

// The counts of a written file.
struct GltfCounts {
  std::uint64_t bytes = 0;      // the file's size
  std::uint64_t meshes = 0;     // distinct polygon lists
  std::uint64_t triangles = 0;  // drawn, every placement counted
  std::uint64_t placements = 0;
};

// Writes the scene to `path` whole or not at all (through a temporary file beside it). Throws
// support::files::FileError when the file cannot be written, GltfTooLarge past the container's size.
GltfCounts write_gltf(const GltfScene& scene, std::span<const LayerValues> layers,
                      const model::PolygonPool& pool, double units_per_micrometre,
                      const GltfOptions& options, const std::string& path);

// The linear RGB of a layer colour given as JSON text ("#rgb", "#rrggbb" or "#rrggbbaa" in sRGB),
// or null when it is none of those.
std::optional<std::array<double, 4>> linear_color(std::string_view color_json);

}  // namespace tarnwick::depthview::write
