#include "tarnwick/core/build/outcome.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/core/build/python_text.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/host/text.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;

namespace {
const std::string kRule(50, '=');

// The error log file's seven parts, written one after the other; the file is closed also when a
// write fails.
void write_error_log(nb::handle log_file, const std::string& factory_name,
                     const std::string& error_message, nb::handle exception,
                     nb::handle stack_trace) {
  require_safe_file_stem(factory_name);
  nb::object file = log_file.attr("open")("w", nb::arg("encoding") = "utf-8");
  try {
    nb::object write = file.attr("write");
    write(py_text("Build Error for " + factory_name + "\n"));
    write(py_text(kRule + "\n"));
    write(py_text("Error Message: " + error_message + "\n"));
    write(py_text(type_name_of(exception) + ": " + text_of(exception) + "\n"));
    write(py_text(kRule + "\n"));
    write("Full Stack Trace:\n");
    write(stack_trace);
  } catch (...) {
    // The write's error wins over a failure to close, as with a `with` block.
    try {
      file.attr("close")();
    } catch (nb::python_error&) {
    }
    throw;
  }
  file.attr("close")();
}
}  // namespace

void handle_build_success(const std::string& factory_name) {
  host::log_info("Successfully built factory " + factory_name);
  host::send_message(host::reload_layout_message(factory_name));
}

nb::object handle_build_error(const std::string& factory_name, const std::string& error_message,
                              nb::handle exception) {
  host::log_error(error_message);
  nb::object stack_trace = host::traceback.resolved().attr("format_exc")();
  nb::object log_dir = host::settings.resolved().attr("get_log_dir")();
  nb::object log_file =
      host::pathlib.resolved().attr("Path")(log_dir) / py_text(factory_name + ".log");
  try {
    write_error_log(log_file, factory_name, error_message, exception, stack_trace);
    host::log_debug("Stack trace written to " + text_of(log_file));
  } catch (nb::python_error& error) {
    if (!is_ordinary(error)) throw;
    host::log_warning("Failed to write stack trace to " + text_of(log_file) + ": " +
                      text_of(error.value()));
  }
  const std::string error_with_location = format_error_with_location(exception);
  return update_factory_error_status(factory_name, error_with_location);
}

std::string format_error_with_location(nb::handle exception) {
  nb::object entry = nb::getattr(exception, "__traceback__", nb::none());
  if (entry.is_none()) return text_of(exception);
  for (nb::object next = entry.attr("tb_next"); !next.is_none(); next = next.attr("tb_next")) {
    entry = next;
  }
  const std::string filename = text_of(entry.attr("tb_frame").attr("f_code").attr("co_filename"));
  const std::string lineno = text_of(entry.attr("tb_lineno"));
  return text_of(exception) + " (" + std::string(host::text::last_path_component(filename)) + ":" +
         lineno + ")";
}

nb::object update_factory_error_status(const std::string& factory_name,
                                       const std::string& error_message) {
  nb::str name = py_text(factory_name);
  nb::object existing = host::database.resolved().attr("get_factories_by_name")(name);
  if (!contains(existing, name)) {
    existing = host::callgraph.resolved().attr("get_static_records")();
    if (!contains(existing, name)) return nb::none();
  }
  nb::object updated = existing[name].attr("model_copy")();
  updated.attr("name") = name;
  updated.attr("status") = "ERROR";
  updated.attr("message") = py_text(error_message);
  host::send_message(host::reload_layout_message(factory_name));
  return updated;
}

}  // namespace tarnwick::build
