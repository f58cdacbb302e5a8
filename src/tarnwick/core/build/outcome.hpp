#pragma once
// The closing steps of one build: the success step and the error step with its error log file and
// its error record. Error records are returned, never stored: the batch driver stores them.
#include <nanobind/nanobind.h>

#include <string>

namespace tarnwick::build {

namespace nb = nanobind;

// Logs "Successfully built factory <name>" and sends ReloadLayoutMessage(cell=name).
void handle_build_success(const std::string& factory_name);

// Logs `error_message` as an error, writes the error log file get_log_dir()/<name>.log with the
// formatted trace of the error being handled (traceback.format_exc()), and returns the factory's
// error record (status "ERROR", message = the located text of `exception`) or None when neither the
// database nor the call graph knows the factory. Only the error log file's own failures are
// absorbed (into a warning line); every other error propagates.
nb::object handle_build_error(const std::string& factory_name, const std::string& error_message,
                              nb::handle exception);

// The text of `exception`, followed by " (<file>:<line>)" of the innermost entry of its trace
// (the frame where it was raised, last path component of the file) when it has a trace.
std::string format_error_with_location(nb::handle exception);

// A copy of the factory's record (database first, else the call graph's static records) with
// name, status "ERROR" and `error_message`; sends ReloadLayoutMessage(cell=name) when there is one.
// Returns None, and sends nothing, when there is no record. Writes nothing to the database.
nb::object update_factory_error_status(const std::string& factory_name,
                                       const std::string& error_message);

}  // namespace tarnwick::build
