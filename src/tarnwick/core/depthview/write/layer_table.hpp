#pragma once
// The layers of a scene in plain values: for each layout layer that takes part, its name, whether
// it is excluded, its extrusion height, bottom height and colour. Made once per conversion by the
// caller (from the technology's layer properties); no Python in here.
//
// A layer whose values could not be made keeps the error instead, and it is thrown only where the
// layer would have been used: when the tree builder first asks for the layer (`lookup_error`) or
// when the message is written (`message_error`). Layers the scene never reaches raise nothing.
#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview::write {

struct SceneLayer {
  std::int64_t index = 0;            // the layout's layer index
  std::string name;                  // UTF-8 text
  std::uint64_t name_length = 0;     // the name's length in characters
  bool excluded = false;             // matched by an exclusion pattern: not drawn
  double height = 0.0;               // extrusion height (not excluded only)
  double zmin = 0.0;                 // bottom height (not excluded only)
  std::string color_json;            // the colour value as JSON text (not excluded only)
  std::int64_t polygons_index = 0;   // where by-layer trees hold its polygons (not excluded only)
  std::exception_ptr lookup_error;   // thrown when the layer is first asked for
  std::exception_ptr message_error;  // thrown when the message is written
};

class LayerTable final : public LayerLookup {
 public:
  explicit LayerTable(std::vector<SceneLayer> layers);

  // The entry of a layer index, numbered by slots in the order layers are first asked for; null
  // for a layer that does not take part.
  const LayerEntry* find(std::int64_t index) override;
  // The length of a found layer's name, in characters.
  std::uint64_t name_size(std::uint32_t slot) const { return found_[slot]->name_length; }
  // What the message shows of every layer found so far, by slot (excluded ones left empty).
  std::vector<LayerValues> message_values() const;

 private:
  std::vector<SceneLayer> layers_;
  std::unordered_map<std::int64_t, std::size_t> positions_;  // layer index -> position in layers_
  std::unordered_map<std::int64_t, const LayerEntry*> by_index_;
  std::deque<LayerEntry> entries_;        // stable addresses, by slot
  std::vector<const SceneLayer*> found_;  // by slot
};

}  // namespace tarnwick::depthview::write
