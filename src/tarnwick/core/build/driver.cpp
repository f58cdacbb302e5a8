#include "tarnwick/core/build/driver.hpp"

#include <string>

#include "tarnwick/core/build/single_build.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;

namespace {
// Everything before the closing reload message: busy marks, builds, resynchronisation, the debug
// line and the stored error records.
void build_batch(nb::tuple names, bool with_metadata, nb::handle report) {
  host::database::set_status(names, host::status::BUSY);

  nb::list results;
  for (nb::handle name : host::runtime::natsorted(names)) {
    BuildOutcome outcome = build_outcome(host::utf8(name), with_metadata);
    results.append(outcome.record);
    if (report.is_valid() && !report.is_none()) report(name, outcome.failed, outcome.record);
  }

  host::database::sync_from_kcl();

  nb::list error_records;
  for (nb::handle result : results) {
    if (!result.is_none()) error_records.append(result);
  }
  host::log_debug("Updated factories " + host::utf8_text_of(error_records) +
                  " status to ERROR in database");
  host::database::add_factories(error_records);
}
}  // namespace

void build_by_names(nb::tuple names, bool with_metadata, nb::handle report) {
  for (nb::handle name : names) {
    if (!PyUnicode_Check(name.ptr())) {
      PyErr_Format(PyExc_TypeError, "build_by_names(): a factory name must be a str, not %s",
                   Py_TYPE(name.ptr())->tp_name);
      throw nb::python_error();
    }
  }
  try {
    build_batch(names, with_metadata, report);
  } catch (nb::python_error& error) {
    // The reload message is sent also when the batch ends with an error. An error of the message
    // itself takes the place of the batch's, which becomes its __context__, as in a `finally`.
    try {
      host::send_message(host::reload_factories_message());
    } catch (nb::python_error& replacement) {
      PyException_SetContext(replacement.value().ptr(), error.value().inc_ref().ptr());
      throw;
    }
    throw;
  } catch (...) {
    host::send_message(host::reload_factories_message());
    throw;
  }
  host::send_message(host::reload_factories_message());
}

}  // namespace tarnwick::build
