#include "tarnwick/core/build/errors.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/core/build/file_names.hpp"
#include "tarnwick/core/build/python_text.hpp"

namespace tarnwick::build {

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
  return nb::handle(type)(py_text(message));
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
  PyErr_SetObject(PyExc_ValueError,
                  py_text("factory name '" + name +
                          "' cannot be a file name: it is empty, '.' or '..', or it holds a path "
                          "separator or a NUL byte")
                      .ptr());
  throw nb::python_error();
}

bool is_ordinary(const nb::python_error& error) { return error.matches(PyExc_Exception); }

HandlingError::HandlingError(nb::handle error)
    : item_(PyThreadState_Get()->exc_info), previous_(item_->exc_value) {
  // The item keeps no reference of its own from here on: `previous_` owns it until restored.
  item_->exc_value = Py_XNewRef(error.ptr());
}

HandlingError::~HandlingError() {
  PyObject* current = item_->exc_value;
  item_->exc_value = previous_;
  Py_XDECREF(current);
}

}  // namespace tarnwick::build
