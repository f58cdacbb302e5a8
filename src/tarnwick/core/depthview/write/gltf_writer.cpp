#include "tarnwick/core/depthview/write/gltf_writer.hpp"

#include <tiny_gltf.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <utility>

#include "tarnwick/core/depthview/write/cap_triangles.hpp"
#include "tarnwick/support/atomic_file.hpp"

namespace tarnwick::depthview::write {

namespace {

using tinygltf::Value;

constexpr const char* kInstancing = "EXT_mesh_gpu_instancing";
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;
// The largest buffer a GLB file (32-bit chunk lengths) or tinygltf's base64 text can hold, with
// room for the JSON chunk beside it.
constexpr std::uint64_t kMaxBuffer = (std::uint64_t{1} << 32) - (std::uint64_t{1} << 26);
// Nodes written without instancing, one per placement: far below the JSON text a GLB file can
// hold (a few hundred bytes each).
constexpr std::size_t kMaxPlainNodes = 4'000'000;

double srgb_to_linear(double c) {
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The 2x3 matrix of a placement as glTF's translation, rotation (about z) and scale: the matrix
// is R(angle) · diag(r, ±r) plus a displacement, so the mirror goes into the sign of y's scale.
struct Trs {
  std::array<double, 3> translation;
  std::array<double, 4> rotation;
  std::array<double, 3> scale;
};

Trs trs_of(const std::array<double, 6>& m) {
  const auto [a, b, tx, d, e, ty] = m;
  const double r = std::hypot(a, d);
  const double determinant = a * e - b * d;
  const double half = std::atan2(d, a) / 2;
  return {{tx, ty, 0.0},
          {0.0, 0.0, std::sin(half), std::cos(half)},
          {r, determinant < 0 ? -r : r, 1.0}};
}

// Builds the model: buffer data, views and accessors as the scene's nodes are visited.
class ModelBuilder {
 public:
  ModelBuilder(const GltfScene& scene, std::span<const LayerValues> layers,
               const model::PolygonPool& pool, double units_per_micrometre,
               const GltfOptions& options)
      : scene_(scene),
        layers_(layers),
        pool_(pool),
        upm_(units_per_micrometre),
        options_(options) {}

  tinygltf::Model build() {
    model_.asset.version = "2.0";
    model_.asset.generator = options_.generator;
    Value::Object extras;
    extras["unit"] = Value(std::string("metre"));
    extras["layout_unit"] = Value(std::string("micrometre"));
    extras["metres_per_micrometre"] = Value(options_.metres_per_micrometre);
    extras["z_scale"] = Value(options_.z_scale);
    extras["up"] = Value(std::string("+y is the layout's +z; the layout's +y is -z"));
    model_.asset.extras = Value(std::move(extras));

    tinygltf::Node root;
    root.name = scene_.root_name;
    const double half = std::sqrt(0.5);
    root.rotation = {-half, 0.0, 0.0, half};  // z up to y up: -90 degrees about x
    const double s = options_.metres_per_micrometre;
    root.scale = {s, s, s};
    model_.nodes.push_back(std::move(root));
    // Nodes in the tree's order, parents first (an explicit stack: trees can be deep).
    std::vector<std::pair<std::uint32_t, int>> stack;  // scene node, parent's glTF node
    for (auto r = scene_.roots.rbegin(); r != scene_.roots.rend(); ++r) stack.emplace_back(*r, 0);
    while (!stack.empty()) {
      const auto [index, parent] = stack.back();
      stack.pop_back();
      const int made = add_node(scene_.nodes[index]);
      model_.nodes[static_cast<std::size_t>(parent)].children.push_back(made);
      const auto& children = scene_.nodes[index].children;
      for (auto c = children.rbegin(); c != children.rend(); ++c) stack.emplace_back(*c, made);
    }
    tinygltf::Scene gltf_scene;
    gltf_scene.nodes = {0};
    model_.scenes.push_back(std::move(gltf_scene));
    model_.defaultScene = 0;
    finish_buffer();
    if (uses_instancing_) {
      model_.extensionsUsed.push_back(kInstancing);
      // A viewer without it would draw every repeated cell once, in the wrong place.
      model_.extensionsRequired.push_back(kInstancing);
    }
    return std::move(model_);
  }

  const GltfCounts& counts() const { return counts_; }

 private:
  struct Made {
    int mesh = -1;
    std::uint64_t triangles = 0;
  };

  int add_node(const GltfScene::Node& node) {
    tinygltf::Node out;
    out.name = node.name;
    if (node.part) {
      const LayerValues& layer = layers_[node.layer];
      double zmin = layer.zmin, height = layer.height;
      if (height < 0) {  // extruded downwards: the same solid, from its lower face up
        zmin += height;
        height = -height;
      }
      const Made made = mesh_of(node, height);
      if (zmin != 0.0) out.translation = {0.0, 0.0, zmin};
      if (made.mesh >= 0) place(out, node, made, zmin);
    }
    model_.nodes.push_back(std::move(out));
    return static_cast<int>(model_.nodes.size() - 1);
  }

  // Puts the mesh on `out` once per placement of the part.
  void place(tinygltf::Node& out, const GltfScene::Node& node, const Made& made, double zmin) {
    if (node.placements == nullptr) {
      out.mesh = made.mesh;
      counts_.triangles += made.triangles;
      return;
    }
    const std::vector<model::Placement>& placements = *node.placements;
    if (placements.empty()) return;
    counts_.placements += placements.size();
    counts_.triangles += made.triangles * placements.size();
    if (placements.size() == 1) {
      const Trs t = trs_of(placements[0].matrix(upm_));
      out.mesh = made.mesh;
      out.translation = {t.translation[0], t.translation[1], zmin};
      set_rotation_and_scale(out, t);
      return;
    }
    if (!options_.instancing) {
      if (model_.nodes.size() + placements.size() > kMaxPlainNodes) {
        throw GltfTooLarge("the scene has more placements than " + std::to_string(kMaxPlainNodes) +
                           " nodes can hold in one glTF file: write it with instancing");
      }
      for (std::size_t k = 0; k < placements.size(); ++k) {
        const Trs t = trs_of(placements[k].matrix(upm_));
        tinygltf::Node copy;
        copy.name = node.name + " " + std::to_string(k + 1);
        copy.mesh = made.mesh;
        copy.translation = {t.translation[0], t.translation[1], 0.0};
        set_rotation_and_scale(copy, t);
        model_.nodes.push_back(std::move(copy));
        out.children.push_back(static_cast<int>(model_.nodes.size() - 1));
      }
      return;
    }
    out.mesh = made.mesh;
    uses_instancing_ = true;
    std::vector<float> translation, rotation, scale;
    bool turned = false, scaled = false;
    for (const model::Placement& p : placements) {
      const Trs t = trs_of(p.matrix(upm_));
      for (double v : t.translation) translation.push_back(static_cast<float>(v));
      for (double v : t.rotation) rotation.push_back(static_cast<float>(v));
      for (double v : t.scale) scale.push_back(static_cast<float>(v));
      turned = turned || t.rotation[2] != 0.0 || t.rotation[3] != 1.0;
      scaled = scaled || t.scale[0] != 1.0 || t.scale[1] != 1.0;
    }
    Value::Object attributes;
    attributes["TRANSLATION"] =
        Value(add_accessor(translation, TINYGLTF_TYPE_VEC3, placements.size(), 0));
    if (turned) {
      attributes["ROTATION"] =
          Value(add_accessor(rotation, TINYGLTF_TYPE_VEC4, placements.size(), 0));
    }
    if (scaled) {
      attributes["SCALE"] = Value(add_accessor(scale, TINYGLTF_TYPE_VEC3, placements.size(), 0));
    }
    Value::Object extension;
    extension["attributes"] = Value(std::move(attributes));
    out.extensions[kInstancing] = Value(std::move(extension));
  }

  static void set_rotation_and_scale(tinygltf::Node& out, const Trs& t) {
    if (t.rotation[2] != 0.0 || t.rotation[3] != 1.0) {
      out.rotation.assign(t.rotation.begin(), t.rotation.end());
    }
    if (t.scale[0] != 1.0 || t.scale[1] != 1.0) out.scale.assign(t.scale.begin(), t.scale.end());
  }

  // The mesh of a part's polygon list, made on first use.
  Made mesh_of(const GltfScene::Node& node, double height) {
    if (node.refs == nullptr || node.refs->empty()) return {};
    const auto key = std::make_pair(node.refs, node.layer);
    if (auto found = meshes_.find(key); found != meshes_.end()) return found->second;
    std::vector<float> positions;
    std::vector<std::uint32_t> indices, cap;
    const float top = static_cast<float>(height);
    for (const std::int64_t ref : *node.refs) {
      const auto k = static_cast<std::size_t>(ref - pool_.first_index());
      if (ref < pool_.first_index() || k >= pool_.size()) {
        throw std::out_of_range("a part refers to polygon " + std::to_string(ref) +
                                ", which the scene does not hold");
      }
      const std::vector<RingPoint> ring = clean_ring(pool_.polygon(k));
      if (ring.empty()) continue;
      const auto n = static_cast<std::uint32_t>(ring.size());
      const auto first = static_cast<std::uint32_t>(positions.size() / 3);
      // The ring at the bottom (first..first+n), then at the top.
      for (const float z : {0.0f, top}) {
        for (const RingPoint& p : ring) {
          positions.push_back(static_cast<float>(static_cast<double>(p.x) / upm_));
          positions.push_back(static_cast<float>(static_cast<double>(p.y) / upm_));
          positions.push_back(z);
        }
      }
      cap.clear();
      triangulate_ring(ring, cap);
      for (std::size_t t = 0; t < cap.size(); t += 3) {  // the top faces up, the bottom down
        indices.insert(indices.end(),
                       {first + n + cap[t], first + n + cap[t + 1], first + n + cap[t + 2]});
        indices.insert(indices.end(), {first + cap[t], first + cap[t + 2], first + cap[t + 1]});
      }
      for (std::uint32_t i = 0; i < n; ++i) {  // walls face outwards: the ring runs anticlockwise
        const std::uint32_t j = i + 1 == n ? 0 : i + 1;
        indices.insert(indices.end(), {first + i, first + j, first + n + j});
        indices.insert(indices.end(), {first + i, first + n + j, first + n + i});
      }
    }
    Made made;
    if (!indices.empty()) {
      tinygltf::Primitive primitive;
      primitive.mode = TINYGLTF_MODE_TRIANGLES;
      primitive.material = material_of(node.layer);
      primitive.attributes["POSITION"] =
          add_accessor(positions, TINYGLTF_TYPE_VEC3, positions.size() / 3, kArrayBuffer, true);
      primitive.indices = add_indices(indices, positions.size() / 3);
      tinygltf::Mesh mesh;
      mesh.name = node.cell + "/" + layers_[node.layer].name;
      mesh.primitives.push_back(std::move(primitive));
      model_.meshes.push_back(std::move(mesh));
      made.mesh = static_cast<int>(model_.meshes.size() - 1);
      made.triangles = indices.size() / 3;
      ++counts_.meshes;
    }
    meshes_.emplace(key, made);
    return made;
  }

  int material_of(std::uint32_t slot) {
    if (auto found = materials_.find(slot); found != materials_.end()) return found->second;
    const LayerValues& layer = layers_[slot];
    tinygltf::Material material;
    material.name = layer.name;
    const auto color = linear_color(layer.color_json).value_or(kDefaultColor);
    material.pbrMetallicRoughness.baseColorFactor.assign(color.begin(), color.end());
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 0.65;
    // Mirrored placements turn faces round; both sides are drawn so that no viewer loses them.
    material.doubleSided = true;
    model_.materials.push_back(std::move(material));
    const int made = static_cast<int>(model_.materials.size() - 1);
    materials_.emplace(slot, made);
    return made;
  }

  // Appends `size` bytes as a buffer view of their own (4-byte aligned) to the one buffer; the
  // view's index. Each accessor has its own view, so the data goes straight into the buffer and
  // no view needs a stride.
  int add_view(const void* data, std::size_t size, int target) {
    std::vector<unsigned char>& buffer = buffer_.data;
    while (buffer.size() % 4 != 0) buffer.push_back(0);
    if (buffer.size() + size > kMaxBuffer) {
      throw GltfTooLarge(
          "the scene's meshes and placements take more than the 4 GiB that a "
          "glTF file can hold: leave layers out (--exclude) or export a part");
    }
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.size();
    view.byteLength = size;
    view.target = target;
    const auto* begin = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), begin, begin + size);
    model_.bufferViews.push_back(std::move(view));
    return static_cast<int>(model_.bufferViews.size() - 1);
  }

  int add_accessor(const std::vector<float>& values, int type, std::size_t count, int target,
                   bool bounds = false) {
    tinygltf::Accessor accessor;
    accessor.bufferView = add_view(values.data(), values.size() * sizeof(float), target);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.type = type;
    accessor.count = count;
    if (bounds) {
      const std::size_t width = values.size() / count;
      accessor.minValues.assign(width, std::numeric_limits<double>::infinity());
      accessor.maxValues.assign(width, -std::numeric_limits<double>::infinity());
      for (std::size_t i = 0; i < values.size(); ++i) {
        accessor.minValues[i % width] = std::min<double>(accessor.minValues[i % width], values[i]);
        accessor.maxValues[i % width] = std::max<double>(accessor.maxValues[i % width], values[i]);
      }
    }
    model_.accessors.push_back(std::move(accessor));
    return static_cast<int>(model_.accessors.size() - 1);
  }

  int add_indices(const std::vector<std::uint32_t>& indices, std::size_t vertices) {
    tinygltf::Accessor accessor;
    accessor.type = TINYGLTF_TYPE_SCALAR;
    accessor.count = indices.size();
    // 16 bits while every index fits below 65535 (the primitive restart value).
    if (vertices < 65535) {
      const std::vector<std::uint16_t> narrow(indices.begin(), indices.end());
      accessor.bufferView =
          add_view(narrow.data(), narrow.size() * sizeof(std::uint16_t), kElementArrayBuffer);
      accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT;
    } else {
      accessor.bufferView =
          add_view(indices.data(), indices.size() * sizeof(std::uint32_t), kElementArrayBuffer);
      accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    }
    model_.accessors.push_back(std::move(accessor));
    return static_cast<int>(model_.accessors.size() - 1);
  }

  void finish_buffer() {
    if (!buffer_.data.empty()) model_.buffers.push_back(std::move(buffer_));
  }

  static constexpr std::array<double, 4> kDefaultColor = {0.807, 0.434, 0.018, 1.0};  // #e8b024

  const GltfScene& scene_;
  std::span<const LayerValues> layers_;
  const model::PolygonPool& pool_;
  double upm_;
  const GltfOptions& options_;
  tinygltf::Model model_;
  tinygltf::Buffer buffer_;
  std::map<std::pair<transform::PolygonList, std::uint32_t>, Made> meshes_;
  std::map<std::uint32_t, int> materials_;
  bool uses_instancing_ = false;
  GltfCounts counts_;
};

}  // namespace

std::optional<std::array<double, 4>> linear_color(std::string_view color_json) {
  if (color_json.size() < 2 || color_json.front() != '"' || color_json.back() != '"') return {};
  std::string_view text = color_json.substr(1, color_json.size() - 2);
  if (text.empty() || text.front() != '#') return {};
  text.remove_prefix(1);
  std::vector<int> digits;
  for (const char c : text) {
    const int d = hex_digit(c);
    if (d < 0) return {};
    digits.push_back(d);
  }
  std::array<double, 4> rgba = {0, 0, 0, 1};
  if (digits.size() == 3) {
    for (int i = 0; i < 3; ++i) rgba[i] = (digits[i] * 17) / 255.0;
  } else if (digits.size() == 6 || digits.size() == 8) {
    for (std::size_t i = 0; i < digits.size() / 2; ++i) {
      rgba[i] = (digits[2 * i] * 16 + digits[2 * i + 1]) / 255.0;
    }
  } else {
    return {};
  }
  for (int i = 0; i < 3; ++i) rgba[i] = srgb_to_linear(rgba[i]);
  return rgba;
}

GltfCounts write_gltf(const GltfScene& scene, std::span<const LayerValues> layers,
                      const model::PolygonPool& pool, double units_per_micrometre,
                      const GltfOptions& options, const std::string& path) {
  ModelBuilder builder(scene, layers, pool, units_per_micrometre, options);
  const tinygltf::Model model = builder.build();
  GltfCounts counts = builder.counts();
  const std::string temporary =
      support::files::temporary_name_beside(path, options.binary ? ".glb" : ".gltf");
  try {
    {
      std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
      if (!stream) throw support::files::FileError(errno, path);
      tinygltf::TinyGLTF writer;
      const bool written = writer.WriteGltfSceneToStream(&model, stream, false, options.binary);
      stream.flush();
      if (!written || !stream) throw support::files::FileError(errno != 0 ? errno : EIO, path);
      counts.bytes = static_cast<std::uint64_t>(stream.tellp());
    }
    // The container's lengths are 32-bit numbers: a larger file would be corrupt.
    if (options.binary && counts.bytes >= (std::uint64_t{1} << 32)) {
      throw GltfTooLarge("the scene takes more than the 4 GiB a GLB file can hold");
    }
    support::files::commit(temporary, path);
  } catch (...) {
    support::files::remove_quietly(temporary);
    throw;
  }
  return counts;
}

}  // namespace tarnwick::depthview::write
