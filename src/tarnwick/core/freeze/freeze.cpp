#include "tarnwick/core/freeze/freeze.hpp"

#include <array>
#include <initializer_list>
#include <vector>

#include "tarnwick/core/freeze/version.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::freeze {

namespace {

using host::check;
using host::contains;

// The module's globals; a strong reference, leaked on purpose: the module lives as long as the
// process.
PyObject* module_globals = nullptr;

// From this library version on, get_netlist takes the options that silence its warnings.
constexpr std::array<int, 3> NETLIST_OPTIONS_VERSION{9, 34, 0};

// The sections of the library netlist that a frozen cell keeps, in the order of the result.
constexpr std::array<const char*, 6> SECTIONS{"instances",  "connections", "ports",
                                              "placements", "routes",      "nets"};

// A module global, read afresh; a NameError like Python's when it has been deleted.
nb::object global(const char* name) {
  nb::str key(name);
  PyObject* value = PyDict_GetItemWithError(module_globals, key.ptr());  // borrowed
  if (value == nullptr) {
    check(PyErr_Occurred() == nullptr);
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw nb::python_error();
  }
  return nb::borrow(value);
}

// Messages are joined as Python text, so that any cell name (even one that has no UTF-8 form)
// appears in them exactly.
nb::str join(std::initializer_list<nb::handle> pieces) {
  nb::object text = nb::str("");
  for (nb::handle piece : pieces) {
    text = nb::steal(PyUnicode_Concat(text.ptr(), piece.ptr()));
    check(text.is_valid());
  }
  return nb::borrow<nb::str>(text);
}

[[noreturn]] void raise(PyObject* kind, nb::handle message) {
  PyErr_SetObject(kind, message.ptr());
  throw nb::python_error();
}

// str(value), Python's text form.
nb::str text_of(nb::handle value) {
  nb::object text = nb::steal(PyObject_Str(value.ptr()));
  check(text.is_valid());
  return nb::borrow<nb::str>(text);
}

nb::str name_of_type(nb::handle value) {
  return nb::borrow<nb::str>(
      nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(value.ptr()))).attr("__name__"));
}

// The netlist's value under `key`, or a new empty map when it has none.
nb::object section(nb::handle netlist, const char* key) {
  nb::str name(key);
  if (contains(netlist, name)) return netlist[name];
  return nb::dict();
}

bool is_yaml_cell(nb::handle cell_function) {
  nb::object module = cell_function.attr("__module__");
  if (!PyUnicode_Check(module.ptr())) return false;
  nb::str suffix("_picyml");
  const Py_ssize_t match =
      PyUnicode_Tailmatch(module.ptr(), suffix.ptr(), 0, PY_SSIZE_T_MAX, /*direction=*/+1);
  check(match >= 0);
  return match == 1;
}

// Steps shared by both operations: look the cell up in the active PDK, refuse YAML cells and
// instantiate it with a copy of the keyword arguments. Returns the component.
nb::object instantiate(nb::handle cell_name, const nb::kwargs& kwargs) {
  if (!PyUnicode_Check(cell_name.ptr())) {
    raise(PyExc_TypeError, join({nb::str("cell_name must be str, not "), name_of_type(cell_name)}));
  }
  nb::object pdk = global("get_pdk")();
  nb::object cells = pdk.attr("cells");
  if (!contains(cells, cell_name)) {
    raise(PyExc_FileNotFoundError, join({nb::str("Cell "), cell_name, nb::str(" not found in PDK "),
                                         text_of(pdk.attr("name"))}));
  }
  nb::object cell_function = cells[cell_name];
  if (is_yaml_cell(cell_function)) {
    raise(PyExc_RuntimeError,
          join({nb::str("Cell "), cell_name, nb::str(" is already a YAML cell.")}));
  }
  nb::object arguments = nb::steal(PyDict_Copy(kwargs.ptr()));
  check(arguments.is_valid());
  nb::object component =
      nb::steal(PyObject_Call(cell_function.ptr(), nb::tuple().ptr(), arguments.ptr()));
  check(component.is_valid());
  return component;
}

// Whether the installed library takes the netlist options, asked through the module's own
// `_get_brenvik_version` and compared as Python compares the triples.
bool takes_netlist_options() {
  nb::object version = global("_get_brenvik_version")();
  nb::tuple threshold = nb::make_tuple(NETLIST_OPTIONS_VERSION[0], NETLIST_OPTIONS_VERSION[1],
                                       NETLIST_OPTIONS_VERSION[2]);
  const int below = PyObject_RichCompareBool(version.ptr(), threshold.ptr(), Py_LT);
  check(below >= 0);
  return below == 0;
}

void require_map(nb::handle netlist, nb::handle cell_name, const char* what) {
  if (host::is_mapping(netlist)) return;
  raise(PyExc_TypeError,
        join({nb::str("Expected the "), nb::str(what), nb::str(" of cell "), cell_name,
              nb::str(" to be a dict, got "), name_of_type(netlist), nb::str(".")}));
}

// One "key: value" text per entry of the flattened warnings map, all made before any is logged.
std::vector<nb::object> warning_texts(nb::handle warnings) {
  nb::object flat = global("ostrand").attr("flatten_dict")(warnings, nb::arg("sep") = " ");
  std::vector<nb::object> texts;
  nb::str separator(": ");
  for (nb::handle item : flat.attr("items")()) {
    nb::object pair = nb::steal(PySequence_Tuple(item.ptr()));
    check(pair.is_valid());
    const Py_ssize_t size = PyTuple_GET_SIZE(pair.ptr());
    if (size > 2) {
      PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
      throw nb::python_error();
    }
    if (size < 2) {
      PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", size);
      throw nb::python_error();
    }
    texts.push_back(join({text_of(PyTuple_GET_ITEM(pair.ptr(), 0)), separator,
                          text_of(PyTuple_GET_ITEM(pair.ptr(), 1))}));
  }
  return texts;
}

void log_warnings(nb::handle warnings) {
  for (const nb::object& text : warning_texts(warnings)) global("log")().attr("warning")(text);
}

}  // namespace

void use_module_globals(nb::module_ module) {
  module_globals = nb::borrow(PyModule_GetDict(module.ptr())).release().ptr();
}

nb::object freeze(nb::handle cell_name, nb::kwargs kwargs) {
  nb::object component = instantiate(cell_name, kwargs);
  nb::object netlist = takes_netlist_options()
                           ? component.attr("get_netlist")(nb::arg("on_multi_connect") = "ignore")
                           : component.attr("get_netlist")();
  require_map(netlist, cell_name, "netlist");

  nb::dict result;
  for (const char* key : SECTIONS) result[key] = section(netlist, key);
  const int has_instances = PyObject_IsTrue(nb::object(result["instances"]).ptr());
  check(has_instances >= 0);
  if (has_instances == 0) {
    raise(PyExc_RuntimeError, join({nb::str("Cell "), cell_name, nb::str(" has no instances.")}));
  }

  log_warnings(section(netlist, "warnings"));
  return result;
}

nb::object freeze_recursive(nb::handle cell_name, nb::kwargs kwargs) {
  nb::object component = instantiate(cell_name, kwargs);
  nb::object get_netlist = component.attr("get_netlist");
  nb::object netlist = takes_netlist_options() ? get_netlist(nb::arg("recursive") = true,
                                                             nb::arg("on_multi_connect") = "ignore",
                                                             nb::arg("on_dangling_port") = "ignore")
                                               : get_netlist(nb::arg("recursive") = true);
  // No netlist at all is handed back as it is: it has no warnings.
  if (netlist.is_none()) {
    log_warnings(nb::dict());
    return netlist;
  }
  require_map(netlist, cell_name, "recursive netlist");
  log_warnings(section(netlist, "warnings"));
  return netlist;
}

nb::tuple get_brenvik_version() {
  const nb::tuple unreadable = nb::make_tuple(0, 0, 0);
  nb::object brenvik = host::import_brenvik();

  nb::object version = nb::steal(PyObject_GetAttrString(brenvik.ptr(), "__version__"));
  if (!version.is_valid()) {
    check(PyErr_ExceptionMatches(PyExc_AttributeError));
    PyErr_Clear();
    return unreadable;
  }
  // A version that is not text has no parts to read.
  if (!PyUnicode_Check(version.ptr())) return unreadable;

  // Split the UTF-8 form; "surrogatepass" keeps every text encodable and decodes back exactly.
  nb::object bytes = nb::steal(PyUnicode_AsEncodedString(version.ptr(), "utf-8", "surrogatepass"));
  check(bytes.is_valid());
  const VersionTexts texts = split_version(
      {PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr()))});

  // Each text is read exactly as Python's int() reads it (signs, blanks, "_" between digits, any
  // Unicode decimal digits, no size limit); a text that is not an integer gives (0, 0, 0).
  std::vector<nb::object> numbers;
  for (const std::string* text : {&texts.major, &texts.minor, &texts.patch}) {
    nb::object part = nb::steal(
        PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "surrogatepass"));
    check(part.is_valid());
    nb::object number = nb::steal(PyLong_FromUnicodeObject(part.ptr(), 10));
    if (!number.is_valid()) {
      check(PyErr_ExceptionMatches(PyExc_ValueError));
      PyErr_Clear();
      return unreadable;
    }
    numbers.push_back(std::move(number));
  }
  return nb::make_tuple(numbers[0], numbers[1], numbers[2]);
}

}  // namespace tarnwick::freeze
