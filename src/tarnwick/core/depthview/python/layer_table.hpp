#pragma once
// The layers of a scene: which layout layers take part (those with PDK properties), and for each
// its name, extrusion height, bottom height and colour, looked up in the PDK layer properties once
// per conversion, as the tree builder first asks for them.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "tarnwick/core/depthview/read/layout_reader.hpp"
#include "tarnwick/core/depthview/write/layer_table.hpp"
#include "tarnwick/core/depthview/write/message_writer.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

// The per-layer look-ups of a LayerSpec (layer, datatype) in the PDK layer properties `layers`
// (a map LayerSpec -> PdkLayer). A spec without properties gets "(layer, datatype)" as name, a
// bottom of -z_scale, a height of 0.05 z_scale and the colour "#000000".
nb::object layer_name(nb::handle layers, nb::handle spec);
double layer_zmin(nb::handle layers, double z_scale, nb::handle spec);
double layer_height(nb::handle layers, double z_scale, nb::handle spec);
nb::object layer_color(nb::handle layers, nb::handle spec);

// The layout layers that have properties in `layers`: {layer index: (layer, datatype)} in the
// layout's order, and its inverse (a later index wins when two carry the same spec).
std::pair<nb::dict, nb::dict> layer_maps(const std::vector<read::LayerInfo>& layout_layers,
                                         nb::handle layers);

// Whether a layer name matches one of the exclusion patterns (shell-style wildcards over the
// whole name, case-insensitive).
bool excluded(nb::handle patterns, nb::handle layer_name);

// The plain layer table of the fast route: every layer of `layer_map` ({index: spec}, as
// layer_maps makes it) with its values from `layers`, looked up as LayerTable::find does. A layer
// whose look-up raises keeps the error, raised only where the scene uses the layer (see
// write/layer_table.hpp); interrupts are raised at once.
std::vector<write::SceneLayer> scene_layers(nb::handle layers, double z_scale,
                                            nb::handle exclude_layers, nb::handle layer_map,
                                            nb::handle reverse_layer_map);

// The layer table of the records route: the same look-ups, made as the tree builder first asks
// for a layer, with the values the records show.
class LayerTable final : public write::LayerLookup {
 public:
  // `layer_map` {index: spec} and `reverse_layer_map` {spec: index} as the parser holds them.
  LayerTable(nb::handle layers, double z_scale, nb::handle exclude_layers, nb::handle layer_map,
             nb::handle reverse_layer_map);

  const write::LayerEntry* find(std::int64_t index) override;

  // What the records show of a layer.
  struct Values {
    nb::object name;   // the layer's get_name() (text)
    nb::object color;  // the layer's get_color(), as it is
    nb::object loc;    // ((0, 0, bottom), (0, 0, 0, 1))
    nb::object height;
  };
  const Values& values(std::uint32_t slot) const { return values_[slot]; }
  // The length of a layer's name (in characters).
  std::uint64_t name_size(std::uint32_t slot) const {
    return static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(values_[slot].name.ptr()));
  }

  // What the message shows of every layer found so far, by slot: names as UTF-8 text and colours
  // as JSON text. Errors of layers that are excluded do not arise; those of others are the JSON
  // writer's own (a name or colour without JSON form).
  std::vector<write::LayerValues> message_values() const;

 private:
  nb::object layers_, exclude_layers_, layer_map_, reverse_layer_map_;
  double z_scale_;
  std::unordered_map<std::int64_t, const write::LayerEntry*> by_index_;
  std::deque<write::LayerEntry> entries_;  // stable addresses
  std::deque<Values> values_;
  std::vector<double> heights_, zmins_;
};

}  // namespace tarnwick::depthview::python
