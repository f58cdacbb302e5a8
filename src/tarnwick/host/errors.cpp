#include "tarnwick/host/errors.hpp"

namespace tarnwick::host {

void raise_assertion() {
  PyErr_SetNone(PyExc_AssertionError);
  throw nb::python_error();
}

}  // namespace tarnwick::host
