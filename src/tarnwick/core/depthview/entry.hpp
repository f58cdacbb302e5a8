#pragma once
// The two entry operations: a component (or GDS file) to a 3D viewer scene, and to one viewer
// message.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>  // the optional tolerance crosses the binding

#include <optional>

namespace tarnwick::depthview {

namespace nb = nanobind;

// The scene of `component` (a brenvik component, or the path text of a GDS file) grouped by
// `output` (Output.CELL or Output.LAYER): a ViewerData record, or its map form when `as_dict`.
// `layer_views` / `layer_stack` default to the component library's active PDK's and are then
// checked (ValueError when the PDK has none). `exclude_layers` must be a list or None (TypeError).
//
// The component, with its derived layers computed, is written to a temporary ".gds" file and read
// back through KLayout. Once that file exists it is removed on every path, also when writing it
// fails. A file already gone at clean-up does not replace the result or the original error; any
// other clean-up failure does, with the original error as its context.
nb::object to_3d_viewer(nb::handle component, nb::handle output, nb::handle layer_views,
                        nb::handle layer_stack, double z_scale,
                        std::optional<double> curve_tolerance, nb::handle exclude_layers,
                        bool as_dict);

// to_3D_viewer through the Python-object path throughout (pool of Python polygons, conversion of
// each into its array): the reference that to_3D_viewer, which parses into a native pool and
// makes the same arrays from it, equals.
nb::object to_3d_viewer_reference(nb::handle component, nb::handle output, nb::handle layer_views,
                                  nb::handle layer_stack, double z_scale,
                                  std::optional<double> curve_tolerance,
                                  nb::handle exclude_layers, bool as_dict);

// Sends the scene of `component` to the 3D viewer: one DepthviewMessage whose content is the
// compact JSON {"type": "data", "data": <scene map with buffer records>, "config": <viewer
// configuration>}, with the layer stack and views of the host's active PDK. Sends nothing when any
// step fails.
void depthview(nb::handle component, nb::handle output, double z_scale,
               std::optional<double> curve_tolerance, nb::handle exclude_layers);

// The fixed viewer configuration, a new dict of 41 entries in their display order.
nb::dict viewer_config();

// depthview through the Python-object path throughout (records, asdict, numpy_to_buffer_json, the
// host's JSON writer): the reference that the native path of depthview equals byte for byte.
void depthview_reference(nb::handle component, nb::handle output, double z_scale,
                         std::optional<double> curve_tolerance, nb::handle exclude_layers);

// The message content that depthview sends for the scene of an already read KLayout layout,
// `layers` being the layer properties, with the path that wrote it: (content, "native" |
// "fallback" | "reference"). `native` false takes the Python-object path throughout.
nb::tuple scene_message(nb::handle layout, nb::handle layers, nb::handle output, double z_scale,
                        std::optional<double> curve_tolerance, nb::handle exclude_layers,
                        bool native);

// depthview, measured for the command line: does exactly what depthview does (and sends the same
// one message) and returns a dict with the seconds of each stage ("read": component to KLayout
// layout, "parse", "convert", "encode": buffers, JSON and sending) and the scene's counts
// ("polygons": distinct polygons, "placed_polygons", "placements", "parts", "bytes": UTF-8 bytes of
// the message content). `progress`, when not None, is called with each stage's name as it starts.
// `native` false takes the Python-object path throughout; "path" in the result tells which path
// wrote the message: "native", "fallback" (native pool, Python-object writer) or "reference".
nb::dict depthview_timed(nb::handle component, nb::handle output, double z_scale,
                         std::optional<double> curve_tolerance, nb::handle exclude_layers,
                         nb::handle progress, bool native = true);

}  // namespace tarnwick::depthview
