#include "tarnwick/core/depthview/viewer_config.hpp"

namespace tarnwick::depthview {

nb::dict viewer_config() {
  nb::dict config;
  config["_splash"] = false;
  config["ambient_intensity"] = 1;
  config["angular_tolerance"] = 0.2;
  config["axes"] = false;
  config["axes0"] = true;
  config["black_edges"] = false;
  config["center_grid"] = false;
  config["collapse"] = 3;
  config["control"] = "trackball";
  config["default_color"] = "#e8b024";
  config["default_edgecolor"] = "#707070";
  config["default_facecolor"] = "Violet";
  config["default_opacity"] = 0.5;
  config["default_thickedgecolor"] = "MediumOrchid";
  config["default_vertexcolor"] = "MediumOrchid";
  config["direct_intensity"] = 1.1;
  config["explode"] = false;
  config["glass"] = true;
  nb::list grid;
  for (int i = 0; i < 3; ++i) grid.append(false);
  config["grid"] = grid;
  config["helper_scale"] = 10;
  config["metalness"] = 0.3;
  nb::dict modifier_keys;
  modifier_keys["shift"] = "shiftKey";
  modifier_keys["ctrl"] = "ctrlKey";
  modifier_keys["meta"] = "metaKey";
  modifier_keys["alt"] = "altKey";
  config["modifier_keys"] = modifier_keys;
  config["new_tree_behavior"] = true;
  config["ortho"] = true;
  config["pan_speed"] = 1;
  config["render_edges"] = true;
  config["render_joints"] = false;
  config["render_mates"] = false;
  config["render_normals"] = false;
  config["reset_camera"] = "reset";
  config["rotate_speed"] = 1;
  config["roughness"] = 0.65;
  config["show_parent"] = false;
  config["show_sketch_local"] = true;
  config["ticks"] = 10;
  config["timeit"] = false;
  config["tools"] = true;
  config["transparent"] = false;
  config["up"] = "Z";
  config["zoom_speed"] = 1;
  config["normal_len"] = 0;
  return config;
}

}  // namespace tarnwick::depthview
