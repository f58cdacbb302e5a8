#include "tarnwick/core/build/single_build.hpp"

#include <optional>

#include "tarnwick/core/build/checks.hpp"
#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/core/build/gds_file.hpp"
#include "tarnwick/core/build/outcome.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;
using host::py_text;
using host::utf8;
using host::utf8_text_of;

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

nb::object construct(const std::string& name) {
  nb::object component = host::pdk::get_component(host::get_pdk(), py_text(name));
  host::database::set_status(nb::make_tuple(py_text(name)), host::status::SUCCESS);
  return component;
}

// The component library writes the GDS file under a temporary name beside `dst`; it takes its
// name once it is flushed to disk and found complete. The library's writer does not report every
// failed write (a full disk can cut a small file short in silence), so a file that is not a
// complete GDS stream is a failed save. On failure no file is left behind and an older `dst`
// stays as it was.
void write_gds_file(nb::handle component, nb::handle dst, bool with_metadata) {
  nb::object temporary = host::files::temporary_path_beside(dst, ".gds");
  try {
    host::library::write_gds(component, temporary, with_metadata);
  } catch (...) {
    host::files::remove_quietly(temporary);
    throw;
  }
  const std::string shown = utf8_text_of(dst);
  host::files::commit(temporary, dst, [&](std::string_view content) -> std::optional<std::string> {
    std::optional<std::string> reason = gds_incompleteness(content);
    if (!reason) return std::nullopt;
    return "incomplete GDS file '" + shown + "': " + *reason + " (is the disk full?)";
  });
}

void save(const std::string& name, nb::handle component, bool with_metadata) {
  nb::object dst_dir = host::settings::gds_dir();
  if (!with_metadata) dst_dir = host::files::child(dst_dir, "no-meta");
  host::files::make_directories(dst_dir);
  require_safe_file_stem(name);
  nb::object dst = host::files::child(dst_dir, name + ".gds");
  write_gds_file(component, dst, with_metadata);
  host::log_info("Successfully built component " + name + " to " + utf8_text_of(dst));
}

// Writes the schema file of a schematic cell; false when the cell needs none (not a schematic,
// no record, no source path).
bool write_schema(const std::string& name) {
  if (!host::library::is_schematic_cell(cell_function(name))) return false;
  nb::object record = factory_record(name);
  if (record.is_none()) return false;
  nb::object source = host::factory_record::absolute_source(record);
  if (source.is_none()) return false;
  nb::object netlist = host::yaml::safe_load(host::files::read_text(source));
  nb::object schema = host::schema::netlist_schema(netlist);
  require_safe_file_stem(name);
  nb::object path = host::files::child(host::files::child(host::settings::build_dir(), "schemas"),
                                       name + ".json");
  host::files::make_directories(host::files::parent(path));
  host::files::write_bytes(path, host::json::dumps_bytes(schema, host::json::Style::indent2));
  return true;
}
}  // namespace

BuildOutcome build_outcome(const std::string& name, bool with_metadata) {
  nb::object cell_func = cell_function(name);
  if (!cell_func.is_none()) {
    if (std::optional<std::string> error = check_component_default_args(name, cell_func)) {
      HandlingError nothing_handled{nb::handle()};
      return {handle_build_error(name, *error, component_as_default_arg_error(*error)), true};
    }
  }
  if (std::optional<std::string> error = check_self_referencing_schematic(name)) {
    HandlingError nothing_handled{nb::handle()};
    return {handle_build_error(name, *error, self_reference_error(*error)), true};
  }

  nb::object outcome = nb::none();
  nb::object component;
  if (!run_stage(
          name, [&] { component = construct(name); },
          [&](nb::handle e) {
            return "Failed to build component " + name + ": " + utf8(host::name_of_type(e)) + ": " +
                   error_text(e);
          },
          outcome)) {
    return {outcome, true};
  }
  if (!run_stage(
          name, [&] { save(name, component, with_metadata); },
          [&](nb::handle e) {
            return "Failed to save component " + name + ": " + error_text(e) +
                   " [with_metadata=" + (with_metadata ? "True" : "False") + "]";
          },
          outcome)) {
    return {outcome, true};
  }
  bool schema_written = false;
  if (!run_stage(
          name, [&] { schema_written = write_schema(name); },
          [&](nb::handle e) {
            return "Failed to write schema for component " + name + ": " + error_text(e);
          },
          outcome)) {
    return {outcome, true};
  }
  if (!schema_written) return {nb::none(), false};

  handle_build_success(name);
  return {nb::none(), false};
}

nb::object build_by_name(const std::string& name, bool with_metadata) {
  return build_outcome(name, with_metadata).record;
}

}  // namespace tarnwick::build
