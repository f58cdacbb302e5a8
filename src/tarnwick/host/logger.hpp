#pragma once
// The host's logger (tarnwick.logger): obtained afresh with get_logger() at every entry, one text
// per entry.
#include <nanobind/nanobind.h>

#include <string_view>

namespace tarnwick::host {

namespace nb = nanobind;

// One entry at the named level; `text` is UTF-8 made by host::utf8.
void log_debug(std::string_view text);
void log_info(std::string_view text);
void log_warning(std::string_view text);
void log_error(std::string_view text);

namespace logger {
// get_logger(): a fresh logger.
nb::object get_logger();
// A new lazy binding of get_logger, for a module's namespace.
nb::object get_logger_binding();
// logger.warning(text) on a logger obtained elsewhere.
void warning(nb::handle logger, nb::handle text);
}  // namespace logger

}  // namespace tarnwick::host
