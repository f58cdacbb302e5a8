#include "tarnwick/core/build/errors.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/core/build/file_names.hpp"
#include "tarnwick/host/python_text.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;

namespace {
// Strong references, created at module load and kept for the life of the process.
PyObject* component_as_default_arg_error_type = nullptr;
PyObject* self_reference_error_type = nullptr;

PyObject* new_error_type(nb::module_& module, const char* name, const char* doc) {
  const std::string qualified = nb::cast<std::string>(module.attr("__name__")) + "." + name;
  PyObject* type =
      PyErr_NewExceptionWithDoc(qualified.c_str(), doc, PyExc_Exception, /*dict=*/nullptr);
  if (type == nullptr) throw nb::python_error();
  module.attr(name) = nb::handle(type);
  return type;
}

nb::object make(PyObject* type, const std::string& message) {
  return nb::handle(type)(host::py_text(message));
}
}  // namespace

void add_error_types(nb::module_& module) {
  component_as_default_arg_error_type =
      new_error_type(module, "ComponentAsDefaultArgError", kComponentAsDefaultArgErrorDoc);
  self_reference_error_type = new_error_type(module, "SelfReferenceError", kSelfReferenceErrorDoc);
}

nb::object component_as_default_arg_error(const std::string& message) {
  return make(component_as_default_arg_error_type, message);
}

nb::object self_reference_error(const std::string& message) {
  return make(self_reference_error_type, message);
}

void require_safe_file_stem(const std::string& name) {
  if (is_safe_file_stem(name)) return;
  host::raise(PyExc_ValueError, "factory name '" + name +
                                    "' cannot be a file name: it is empty, '.' or '..', or it "
                                    "holds a path separator or a NUL byte");
}

bool is_ordinary(const nb::python_error& error) { return error.matches(PyExc_Exception); }

std::string error_text(nb::handle error) {
  try {
    return host::utf8_text_of(error);
  } catch (nb::python_error& failure) {
    if (!is_ordinary(failure)) throw;
    return kUnprintableErrorText;
  }
}

HandlingError::HandlingError(nb::handle error) {
  // The public API reads the innermost exception state that holds an error (an outer one shows
  // through an empty inner one) and writes the innermost state itself. Clearing the innermost
  // state and reading again tells whether the error read first was that state's own.
  PyObject* shown = PyErr_GetHandledException();  // new reference or null
  PyErr_SetHandledException(Py_None);
  PyObject* below = PyErr_GetHandledException();
  const bool own = shown != nullptr && shown != below;
  Py_XDECREF(below);
  previous_ = own ? shown : nullptr;
  if (!own) Py_XDECREF(shown);
  PyErr_SetHandledException(error.is_valid() ? error.ptr() : Py_None);
}

HandlingError::~HandlingError() {
  PyErr_SetHandledException(previous_ != nullptr ? previous_ : Py_None);
  Py_XDECREF(previous_);
}

}  // namespace tarnwick::build
