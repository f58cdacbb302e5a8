#pragma once
// The two entry operations: a component (or GDS file) to a 3D viewer scene, and to one viewer
// message.
#include <nanobind/nanobind.h>

#include <functional>

#include "tarnwick/core/depthview/pipeline.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

// The scene of `component` (a brenvik component, or the path text of a GDS file) grouped by
// `output` (Output.CELL or Output.LAYER): a ViewerData record, or its map form when `as_dict`.
// `layer_views` / `layer_stack` default to the component library's active PDK's and are then
// checked (ValueError when the PDK has none). Numbers and `exclude_layers` are checked first
// (TypeError, ValueError). The parser is the module's `ParseGDS`, looked up at each call.
//
// The component, with its derived layers computed, is written to a temporary ".gds" file and read
// back through KLayout. Once that file exists it is removed on every path, also when writing it
// fails. A file already gone at clean-up does not replace the result or the original error; any
// other clean-up failure does, with the original error as its context.
nb::object to_3d_viewer(nb::handle component, nb::handle output, nb::handle layer_views,
                        nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                        nb::handle exclude_layers, bool as_dict);

// Sends the scene of `component` to the 3D viewer: one DepthviewMessage whose content is the
// compact JSON {"type": "data", "data": <scene map with buffer records>, "config": <viewer
// configuration>}, with the layer stack and views of the host's active PDK, or, when `technology`
// is not None, those that tarnwick.technology gives for it (a technology name or path, a
// Technology, or a (LayerStack, LayerViews) pair). Sends nothing when any step fails. `report`
// (None or a callable) receives the stage times and counts (see pipeline.hpp); reading the
// component is the stage "read".
//
// The message is made on the native scene; when the module's ParseGDS has been replaced, through
// that parser and the records instead.
//
// A path text (GDS or OASIS) is read once, straight into the layout the scene reads: every top
// cell is drawn, or only `cell` (a name) and the hierarchy below it; the derived layers of the
// stack are computed on that layout. `cell` given with a component is a ValueError.
void depthview(nb::handle component, nb::handle output, double z_scale, nb::handle curve_tolerance,
               nb::handle exclude_layers, nb::handle report, nb::handle technology,
               nb::handle cell);

// The viewer message content that depthview sends, for a KLayout layout already read and the layer
// properties `layers` ({LayerSpec: PdkLayer}), made on the native scene. `report` as for
// depthview.
nb::str viewer_message(nb::handle layout, nb::handle layers, nb::handle output, double z_scale,
                       nb::handle curve_tolerance, nb::handle exclude_layers, nb::handle report);

// What the other writers of the native scene start from: the arguments checked as for
// to_3d_viewer (layer views and stack from the library's PDK unless given), the component read into
// a KLayout layout as there (its temporary file removed afterwards), and `use` called with the
// request.
nb::object with_scene_request(nb::handle component, nb::handle output, nb::handle layer_views,
                              nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                              nb::handle exclude_layers, nb::handle cell,
                              const std::function<nb::object(SceneRequest)>& use);

}  // namespace tarnwick::depthview
