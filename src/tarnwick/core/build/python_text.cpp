#include "tarnwick/core/build/python_text.hpp"

namespace tarnwick::build {

std::string utf8(nb::handle text) {
  if (!PyUnicode_Check(text.ptr())) {
    PyErr_Format(PyExc_TypeError, "expected a str, got %s", Py_TYPE(text.ptr())->tp_name);
    throw nb::python_error();
  }
  nb::object encoded = nb::steal(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
  if (!encoded.is_valid()) throw nb::python_error();
  return {PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr()))};
}

nb::str py_text(const std::string& text) {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
  if (decoded == nullptr) throw nb::python_error();
  return nb::steal<nb::str>(decoded);
}

std::string text_of(nb::handle value) { return utf8(nb::str(value)); }

std::string type_name_of(nb::handle value) {
  return utf8(nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr()))).attr("__name__"));
}

}  // namespace tarnwick::build
