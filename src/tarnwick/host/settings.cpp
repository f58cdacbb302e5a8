#include "tarnwick/host/settings.hpp"

#include "tarnwick/host/files.hpp"
#include "tarnwick/host/lazy.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::settings {

namespace {
nb::object directory(const char* operation) {
  return files::path_from_service(bindings::settings.operation(operation)(), "tarnwick.settings",
                                  operation);
}
}  // namespace

nb::object build_dir() { return directory("get_build_dir"); }
nb::object gds_dir() { return directory("get_gds_dir"); }
nb::object log_dir() { return directory("get_log_dir"); }

}  // namespace tarnwick::host::settings
