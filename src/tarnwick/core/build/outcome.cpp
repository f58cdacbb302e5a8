#include "tarnwick/core/build/outcome.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/support/text.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;
using host::py_text;
using host::utf8;
using host::utf8_text_of;

namespace {
const std::string kRule(50, '=');

// The error log file: the build's header lines, then the trace exactly as captured (it ends with a
// line feed already).
// Its directory is created with its parents when missing, so that a build started from any
// caller, not only the command line, keeps its log.
void write_error_log(nb::handle log_file, const std::string& factory_name,
                     const std::string& error_message, nb::handle exception,
                     nb::handle stack_trace) {
  require_safe_file_stem(factory_name);
  host::files::make_directories(host::files::parent(log_file));
  const std::string header = "Build Error for " + factory_name + "\n" + kRule + "\n" +
                             "Error Message: " + error_message + "\n" +
                             utf8(host::name_of_type(exception)) + ": " + error_text(exception) +
                             "\n" + kRule + "\n" + "Full Stack Trace:\n";
  host::files::write_text(log_file, host::join({py_text(header), stack_trace}));
}
}  // namespace

void handle_build_success(const std::string& factory_name) {
  host::log_info("Successfully built factory " + factory_name);
  host::send_message(host::reload_layout_message(factory_name));
}

nb::object handle_build_error(const std::string& factory_name, const std::string& error_message,
                              nb::handle exception) {
  host::log_error(error_message);
  nb::object stack_trace = host::runtime::format_exc();
  nb::object log_file = host::files::child(host::settings::log_dir(), factory_name + ".log");
  try {
    write_error_log(log_file, factory_name, error_message, exception, stack_trace);
    host::log_debug("Stack trace written to " + utf8_text_of(log_file));
  } catch (nb::python_error& error) {
    if (!is_ordinary(error)) throw;
    host::log_warning("Failed to write stack trace to " + utf8_text_of(log_file) + ": " +
                      error_text(error.value()));
  }
  const std::string error_with_location = format_error_with_location(exception);
  return update_factory_error_status(factory_name, error_with_location);
}

std::string format_error_with_location(nb::handle exception) {
  std::optional<host::runtime::TraceEntry> entry = host::runtime::innermost_trace_entry(exception);
  if (!entry) return error_text(exception);
  const std::string filename = utf8_text_of(entry->filename);
  return error_text(exception) + " (" + std::string(support::text::last_path_component(filename)) +
         ":" + utf8_text_of(entry->lineno) + ")";
}

nb::object update_factory_error_status(const std::string& factory_name,
                                       const std::string& error_message) {
  nb::str name = py_text(factory_name);
  nb::object existing = host::database::factories_by_name(name);
  if (!host::contains(existing, name)) {
    existing = host::callgraph::static_records();
    if (!host::contains(existing, name)) return nb::none();
  }
  nb::object updated =
      host::factory_record::error_copy(existing[name], name, py_text(error_message));
  host::send_message(host::reload_layout_message(factory_name));
  return updated;
}

}  // namespace tarnwick::build
