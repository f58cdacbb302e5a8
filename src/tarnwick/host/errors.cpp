#include "tarnwick/host/errors.hpp"

namespace tarnwick::host {

void raise(PyObject* kind, const std::string& message) {
  PyErr_SetString(kind, message.c_str());
  throw nb::python_error();
}

void raise_assertion() {
  PyErr_SetNone(PyExc_AssertionError);
  throw nb::python_error();
}

nb::object make_error(nb::handle kind, const std::string& message) { return kind(message); }

}  // namespace tarnwick::host
