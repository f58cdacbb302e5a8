#include "tarnwick/core/depthview/gltf_entry.hpp"

#include <nanobind/stl/string.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "tarnwick/core/depthview/entry.hpp"
#include "tarnwick/core/depthview/pipeline.hpp"
#include "tarnwick/core/depthview/write/gltf_writer.hpp"
#include "tarnwick/support/atomic_file.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/python_text.hpp"

namespace tarnwick::depthview {

namespace {

bool ends_with(const std::string& text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  for (std::size_t i = 0; i < suffix.size(); ++i) {
    const char c = text[text.size() - suffix.size() + i];
    if (std::tolower(static_cast<unsigned char>(c)) != suffix[i]) return false;
  }
  return true;
}

[[noreturn]] void raise_os_error(const support::files::FileError& error) {
  nb::object text = nb::module_::import_("os").attr("strerror")(error.code().value());
  nb::object exception = nb::handle(PyExc_OSError)(error.code().value(), text, error.path());
  PyErr_SetObject(PyExc_OSError, exception.ptr());
  throw nb::python_error();
}

}  // namespace

nb::dict export_gltf(nb::handle component, nb::handle path, nb::handle output,
                     nb::handle layer_views, nb::handle layer_stack, double z_scale,
                     nb::handle curve_tolerance, nb::handle exclude_layers, nb::handle binary,
                     bool instancing, double metres_per_micrometre, nb::handle report_to,
                     nb::handle cell) {
  nb::object fspath = nb::module_::import_("os").attr("fspath")(path);
  if (!PyUnicode_Check(fspath.ptr())) {
    host::raise(PyExc_TypeError, "the glTF path must be text or a path, not bytes");
  }
  const std::string target = nb::cast<std::string>(fspath);
  write::GltfOptions options;
  if (binary.is_none()) {
    if (ends_with(target, ".glb")) {
      options.binary = true;
    } else if (ends_with(target, ".gltf")) {
      options.binary = false;
    } else {
      host::raise(PyExc_ValueError,
                  "a glTF file's name ends in .glb (binary) or .gltf (text): " + target);
    }
  } else {
    options.binary = nb::cast<bool>(binary);
  }
  if (!std::isfinite(metres_per_micrometre) || metres_per_micrometre <= 0) {
    host::raise(PyExc_ValueError, "metres_per_micrometre must be a positive number");
  }
  options.instancing = instancing;
  options.metres_per_micrometre = metres_per_micrometre;
  options.z_scale = z_scale;
  options.generator =
      "tarnwick " + nb::cast<std::string>(nb::module_::import_("tarnwick").attr("__version__"));

  StageReport report(report_to);
  report.start("read");
  write::GltfCounts counts;
  with_scene_request(component, output, layer_views, layer_stack, z_scale, curve_tolerance,
                     exclude_layers, cell, [&](SceneRequest request) {
                       try {
                         const std::filesystem::path parent =
                             std::filesystem::path(target).parent_path();
                         if (!parent.empty()) std::filesystem::create_directories(parent);
                         counts = scene_gltf(std::move(request), options, target, report);
                       } catch (const support::files::FileError& error) {
                         raise_os_error(error);
                       } catch (const std::filesystem::filesystem_error& error) {
                         raise_os_error(support::files::FileError(error.code().value(), target));
                       } catch (const write::GltfTooLarge& error) {
                         host::raise(PyExc_ValueError, error.what());
                       }
                       return nb::none();
                     });
  report.done();
  nb::dict result;
  result["bytes"] = counts.bytes;
  result["meshes"] = counts.meshes;
  result["triangles"] = counts.triangles;
  result["placements"] = counts.placements;
  return result;
}

nb::str scene_content(nb::handle component, nb::handle output, nb::handle layer_views,
                      nb::handle layer_stack, double z_scale, nb::handle curve_tolerance,
                      nb::handle exclude_layers, nb::handle report_to, nb::handle cell) {
  StageReport report(report_to);
  report.start("read");
  nb::object content =
      with_scene_request(component, output, layer_views, layer_stack, z_scale, curve_tolerance,
                         exclude_layers, cell, [&](SceneRequest request) -> nb::object {
                           return scene_message(std::move(request), report);
                         });
  report.done();
  return nb::borrow<nb::str>(content);
}

}  // namespace tarnwick::depthview
