#include "tarnwick/core/build/single_build.hpp"

#include <optional>

#include "tarnwick/core/build/checks.hpp"
#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/core/build/outcome.hpp"
#include "tarnwick/core/build/python_text.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;

// Host modules are used through `resolved()` (throughout this module): the module itself, imported
// on first use, without a lazy proxy in every call. Their attributes are still looked up at every
// call, so a service function replaced at run time takes effect.

namespace {
// A guarded stage: runs `stage` and returns true when it ends normally. An ordinary Python error
// `e` escaping it is handed to the error step as from inside an `except` block (so the formatted
// trace is the one of `e`), with the message `describe(e)`; `outcome` then holds the error step's
// result and the function returns false. Errors of other kinds, and errors of the error step
// itself, propagate.
template <typename Stage, typename Describe>
bool run_stage(const std::string& name, Stage&& stage, Describe&& describe, nb::object& outcome) {
  try {
    stage();
    return true;
  } catch (nb::python_error& error) {
    if (!is_ordinary(error)) throw;
    nb::handle e = error.value();
    HandlingError handling(e);
    outcome = handle_build_error(name, describe(e), e);
    return false;
  }
}

nb::object path_of(nb::handle directory) {
  return host::pathlib.resolved().attr("Path")(directory);
}

nb::object construct(const std::string& name) {
  nb::object component = host::get_pdk().attr("get_component")(py_text(name));
  host::database.resolved().attr("set_factories_status_by_names")(py_text(name),
                                                                  nb::arg("status") = "SUCCESS");
  return component;
}

void save(const std::string& name, nb::handle component, bool with_metadata) {
  nb::object dst_dir = path_of(host::settings.resolved().attr("get_gds_dir")());
  if (!with_metadata) dst_dir = dst_dir / nb::str("no-meta");
  dst_dir.attr("mkdir")(nb::arg("parents") = true, nb::arg("exist_ok") = true);
  require_safe_file_stem(name);
  nb::object dst = dst_dir / py_text(name + ".gds");
  component.attr("write_gds")(dst, nb::arg("with_metadata") = with_metadata);
  host::log_info("Successfully built component " + name + " to " + text_of(dst));
}

// Writes the schema file of a schematic cell; false when the cell needs none (not a schematic,
// no record, no source path).
bool write_schema(const std::string& name) {
  if (!is_schematic_module(defining_module_name(cell_function(name)))) return false;
  nb::object record = factory_record(name);
  if (record.is_none()) return false;
  nb::object source = record.attr("absolute_source")();
  if (source.is_none()) return false;
  nb::object text = path_of(source).attr("read_text")(nb::arg("encoding") = "utf-8");
  nb::object netlist = host::yaml.resolved().attr("safe_load")(text);
  nb::object schema = host::schema.resolved().attr("get_netlist_schema")(netlist);
  require_safe_file_stem(name);
  nb::object path = path_of(host::settings.resolved().attr("get_build_dir")()) /
                    nb::str("schemas") / py_text(name + ".json");
  path.attr("parent").attr("mkdir")(nb::arg("parents") = true, nb::arg("exist_ok") = true);
  path.attr("write_bytes")(host::json::dumps_bytes(schema, host::json::Style::indent2));
  return true;
}
}  // namespace

nb::object build_by_name(const std::string& name, bool with_metadata) {
  nb::object cell_func = cell_function(name);
  if (!cell_func.is_none()) {
    if (std::optional<std::string> error = check_component_default_args(name, cell_func)) {
      HandlingError nothing_handled{nb::handle()};
      return handle_build_error(name, *error, component_as_default_arg_error(*error));
    }
  }
  if (std::optional<std::string> error = check_self_referencing_schematic(name)) {
    HandlingError nothing_handled{nb::handle()};
    return handle_build_error(name, *error, self_reference_error(*error));
  }

  nb::object outcome = nb::none();
  nb::object component;
  if (!run_stage(
          name, [&] { component = construct(name); },
          [&](nb::handle e) {
            return "Failed to build component " + name + ": " + type_name_of(e) + ": " + text_of(e);
          },
          outcome)) {
    return outcome;
  }
  if (!run_stage(
          name, [&] { save(name, component, with_metadata); },
          [&](nb::handle e) {
            return "Failed to save component " + name + ": " + text_of(e) +
                   " [with_metadata=" + (with_metadata ? "True" : "False") + "]";
          },
          outcome)) {
    return outcome;
  }
  bool schema_written = false;
  if (!run_stage(
          name, [&] { schema_written = write_schema(name); },
          [&](nb::handle e) {
            return "Failed to write schema for component " + name + ": " + text_of(e);
          },
          outcome)) {
    return outcome;
  }
  if (!schema_written) return nb::none();

  handle_build_success(name);
  return nb::none();
}

}  // namespace tarnwick::build
