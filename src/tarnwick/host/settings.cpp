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

namespace {
std::uint64_t limit(const char* operation) {
  nb::object value = bindings::settings.operation(operation)();
  const unsigned long long result = PyLong_AsUnsignedLongLong(value.ptr());
  if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw nb::python_error();
  return result;
}
}  // namespace

std::uint64_t max_placements() { return limit("get_max_placements"); }
std::uint64_t max_record_placements() { return limit("get_max_record_placements"); }
std::uint64_t max_message_bytes() { return limit("get_max_message_bytes"); }

}  // namespace tarnwick::host::settings
