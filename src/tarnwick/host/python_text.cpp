#include "tarnwick/host/python_text.hpp"

#include "tarnwick/host/checked.hpp"

namespace tarnwick::host {

std::string utf8(nb::handle text) {
  if (!PyUnicode_Check(text.ptr())) {
    PyErr_Format(PyExc_TypeError, "expected a str, got %s", Py_TYPE(text.ptr())->tp_name);
    throw nb::python_error();
  }
  nb::object encoded = checked(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
  return {PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr()))};
}

nb::str py_text(std::string_view text) {
  return nb::borrow<nb::str>(checked(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass")));
}

nb::str text_of(nb::handle value) {
  return nb::borrow<nb::str>(checked(PyObject_Str(value.ptr())));
}

std::string utf8_text_of(nb::handle value) { return utf8(text_of(value)); }

nb::str name_of_type(nb::handle value) {
  nb::object name = nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr()))).attr("__name__");
  if (!PyUnicode_Check(name.ptr())) return text_of(name);
  return nb::borrow<nb::str>(name);
}

nb::str join(std::initializer_list<nb::handle> pieces) {
  nb::object text = nb::str("");
  for (nb::handle piece : pieces) text = checked(PyUnicode_Concat(text.ptr(), piece.ptr()));
  return nb::borrow<nb::str>(text);
}

void raise(PyObject* kind, nb::handle message) {
  PyErr_SetObject(kind, message.ptr());
  throw nb::python_error();
}

void raise(PyObject* kind, std::string_view message) { raise(kind, py_text(message)); }

}  // namespace tarnwick::host
