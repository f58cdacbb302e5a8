#include "tarnwick/core/depthview/write/layer_table.hpp"

namespace tarnwick::depthview::write {

LayerTable::LayerTable(std::vector<SceneLayer> layers) : layers_(std::move(layers)) {
  for (std::size_t i = 0; i < layers_.size(); ++i) positions_[layers_[i].index] = i;
}

const LayerEntry* LayerTable::find(std::int64_t index) {
  if (auto known = by_index_.find(index); known != by_index_.end()) return known->second;
  const auto position = positions_.find(index);
  if (position == positions_.end()) {
    by_index_[index] = nullptr;
    return nullptr;
  }
  const SceneLayer& layer = layers_[position->second];
  if (layer.lookup_error) std::rethrow_exception(layer.lookup_error);
  LayerEntry entry;
  entry.slot = static_cast<std::uint32_t>(entries_.size());
  entry.index = index;
  entry.excluded = layer.excluded;
  entry.polygons_index = layer.excluded ? 0 : layer.polygons_index;
  entries_.push_back(entry);
  found_.push_back(&layer);
  by_index_[index] = &entries_.back();
  return &entries_.back();
}

std::vector<LayerValues> LayerTable::message_values() const {
  std::vector<LayerValues> result(found_.size());
  for (std::size_t slot = 0; slot < found_.size(); ++slot) {
    const SceneLayer& layer = *found_[slot];
    if (layer.excluded) continue;
    if (layer.message_error) std::rethrow_exception(layer.message_error);
    LayerValues& v = result[slot];
    v.name = layer.name;
    v.color_json = layer.color_json;
    v.height = layer.height;
    v.zmin = layer.zmin;
  }
  return result;
}

}  // namespace tarnwick::depthview::write
