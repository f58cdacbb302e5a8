#pragma once
// The scene of a component (or layout file) written as a glTF 2.0 file, and the viewer message
// content made without sending it (for pages shown elsewhere, such as in a notebook).
#include <nanobind/nanobind.h>

namespace tarnwick::depthview {

namespace nb = nanobind;

// Writes the scene of `component` to `path` (a str or path-like ending in ".glb" or ".gltf";
// `binary` None follows the suffix). Arguments as for to_3D_viewer; `instancing` false writes one
// node per placement instead of EXT_mesh_gpu_instancing; `metres_per_micrometre` is the file's
// scale (1e-6: true size). The file is written whole or not at all; its parent folders are made.
// `cell` as for depthview. Returns {"bytes", "meshes", "triangles", "placements"} of the file.
nb::dict export_gltf(nb::handle component, nb::handle path, nb::handle output,
                     nb::handle layer_views, nb::handle layer_stack, double z_scale,
                     nb::handle curve_tolerance, nb::handle exclude_layers, nb::handle binary,
                     bool instancing, double metres_per_micrometre, nb::handle report,
                     nb::handle cell);

// The viewer message content that depthview would send for `component`, returned instead of sent.
// Arguments as for to_3D_viewer; `cell` as for depthview.
nb::str scene_content(nb::handle component, nb::handle output, nb::handle layer_views,
                      nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                      nb::handle exclude_layers, nb::handle report, nb::handle cell);

}  // namespace tarnwick::depthview
