#include "tarnwick/host/json.hpp"

#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::json {

namespace {
nb::object options(Style style) {
  nb::handle module = bindings::orjson.resolved();
  switch (style) {
    case Style::compact:
      return nb::int_(0);
    case Style::indent2:
      return module.attr("OPT_INDENT_2");
    case Style::scene:
      return module.attr("OPT_INDENT_2") | module.attr("OPT_SERIALIZE_NUMPY") |
             module.attr("OPT_NON_STR_KEYS");
  }
  return nb::int_(0);
}
}  // namespace

nb::bytes dumps_bytes(nb::handle value, Style style) {
  // orjson recognises its keyword names by identity with the interned strings, so the names are
  // passed interned: a freshly made "default" is refused as an unexpected keyword argument.
  static PyObject* default_name = PyUnicode_InternFromString("default");  // lives with the process
  static PyObject* option_name = PyUnicode_InternFromString("option");
  nb::object fallback = bindings::shared.operation("none");
  nb::dict kwargs;
  if (PyDict_SetItem(kwargs.ptr(), default_name, fallback.ptr()) != 0 ||
      PyDict_SetItem(kwargs.ptr(), option_name, options(style).ptr()) != 0) {
    throw nb::python_error();
  }
  nb::object dumps = bindings::orjson.operation("dumps");
  nb::tuple args = nb::make_tuple(value);
  PyObject* encoded = PyObject_Call(dumps.ptr(), args.ptr(), kwargs.ptr());
  if (encoded == nullptr) throw nb::python_error();
  return nb::steal<nb::bytes>(encoded);
}

nb::str dumps(nb::handle value, Style style) {
  nb::bytes encoded = dumps_bytes(value, style);
  return nb::str(encoded.c_str(), encoded.size());
}

}  // namespace tarnwick::host::json
