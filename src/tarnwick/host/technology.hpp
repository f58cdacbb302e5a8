#pragma once
// Technologies (tarnwick.technology): the layer stack and layer views that a technology chosen by
// the caller gives a scene.
#include <nanobind/nanobind.h>

#include <utility>

namespace tarnwick::host::technology {

namespace nb = nanobind;

// tarnwick.technology.scene_layers(technology, component): the (LayerStack, LayerViews) for showing
// `component` with `technology` (a name, a path, a Technology, or such a pair as it is). Its errors
// (TechnologyError for unusable technology input) propagate.
std::pair<nb::object, nb::object> scene_layers(nb::handle technology, nb::handle component);

}  // namespace tarnwick::host::technology
