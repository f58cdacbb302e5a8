#include "tarnwick/host/logger.hpp"

#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host {

namespace {
void log(const char* level, std::string_view text) {
  logger::get_logger().attr(level)(py_text(text));
}
}  // namespace

void log_debug(std::string_view text) { log("debug", text); }
void log_info(std::string_view text) { log("info", text); }
void log_warning(std::string_view text) { log("warning", text); }
void log_error(std::string_view text) { log("error", text); }

namespace logger {
nb::object get_logger() { return bindings::logger.operation("get_logger")(); }
nb::object get_logger_binding() { return lazy_import(bindings::logger.module(), "get_logger"); }
void warning(nb::handle logger, nb::handle text) { logger.attr("warning")(text); }
}  // namespace logger

}  // namespace tarnwick::host
