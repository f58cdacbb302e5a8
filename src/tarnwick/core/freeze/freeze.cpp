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
using host::join;
using host::name_of_type;
using host::raise;
using host::text_of;

// The module's globals, and the lazy bindings that its names get_pdk, log and ostrand held when it
// was loaded. Strong references, leaked on purpose: the module lives as long as the process.
PyObject* module_globals = nullptr;
PyObject* loaded_get_pdk = nullptr;
PyObject* loaded_log = nullptr;
PyObject* loaded_ostrand = nullptr;

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

// The module's names are honoured as Python code honours its globals: a name rebound on the module
// is called instead of the host service. While a name still holds the binding made at load, the
// host facade is used, which reads the service afresh (so a service replaced on its own module is
// seen too).
nb::object active_pdk() {
  nb::object get_pdk = global("get_pdk");
  return get_pdk.is(loaded_get_pdk) ? host::get_pdk() : get_pdk();
}

nb::object logger() {
  nb::object get_logger = global("log");
  return get_logger.is(loaded_log) ? host::logger::get_logger() : get_logger();
}

nb::object ostrand() {
  nb::object module = global("ostrand");
  return module.is(loaded_ostrand) ? host::library::ostrand() : module;
}

// The netlist's value under `key`, or a new empty map when it has none.
nb::object section(nb::handle netlist, const char* key) {
  nb::str name(key);
  if (contains(netlist, name)) return netlist[name];
  return nb::dict();
}

// Steps shared by both operations: look the cell up in the active PDK, refuse YAML cells and
// instantiate it with a copy of the keyword arguments. Returns the component.
nb::object instantiate(nb::handle cell_name, const nb::kwargs& kwargs) {
  if (!PyUnicode_Check(cell_name.ptr())) {
    raise(PyExc_TypeError, join({nb::str("cell_name must be str, not "), name_of_type(cell_name)}));
  }
  nb::object pdk = active_pdk();
  nb::object cells = host::pdk::cells(pdk);
  if (!contains(cells, cell_name)) {
    raise(PyExc_FileNotFoundError, join({nb::str("Cell "), cell_name, nb::str(" not found in PDK "),
                                         text_of(host::pdk::name(pdk))}));
  }
  nb::object cell_function = cells[cell_name];
  if (host::library::is_schematic_module(host::library::module_name(cell_function))) {
    raise(PyExc_RuntimeError,
          join({nb::str("Cell "), cell_name, nb::str(" is already a YAML cell.")}));
  }
  nb::object arguments = host::checked(PyDict_Copy(kwargs.ptr()));
  return host::checked(PyObject_Call(cell_function.ptr(), nb::tuple().ptr(), arguments.ptr()));
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
  if (host::runtime::is_mapping(netlist)) return;
  raise(PyExc_TypeError,
        join({nb::str("Expected the "), nb::str(what), nb::str(" of cell "), cell_name,
              nb::str(" to be a dict, got "), name_of_type(netlist), nb::str(".")}));
}

// One "key: value" text per entry of the flattened warnings map, all made before any is logged.
std::vector<nb::object> warning_texts(nb::handle warnings) {
  nb::object flat = host::library::flatten_dict(ostrand(), warnings, " ");
  std::vector<nb::object> texts;
  nb::str separator(": ");
  for (nb::handle item : host::checked(PyMapping_Items(flat.ptr()))) {
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
  for (const nb::object& text : warning_texts(warnings)) host::logger::warning(logger(), text);
}

}  // namespace

void add_module_bindings(nb::module_ module) {
  module.attr("ostrand") = host::library::ostrand_binding();
  module.attr("get_pdk") = host::get_pdk_binding();
  module.attr("log") = host::logger::get_logger_binding();
  module_globals = nb::borrow(PyModule_GetDict(module.ptr())).release().ptr();
  loaded_get_pdk = global("get_pdk").release().ptr();
  loaded_log = global("log").release().ptr();
  loaded_ostrand = global("ostrand").release().ptr();
}

nb::object freeze(nb::handle cell_name, nb::kwargs kwargs) {
  nb::object component = instantiate(cell_name, kwargs);
  nb::dict options;
  if (takes_netlist_options()) options["on_multi_connect"] = "ignore";
  nb::object netlist = host::library::get_netlist(component, options);
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
  nb::dict options;
  options["recursive"] = true;
  if (takes_netlist_options()) {
    options["on_multi_connect"] = "ignore";
    options["on_dangling_port"] = "ignore";
  }
  nb::object netlist = host::library::get_netlist(component, options);
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
  nb::object library = host::library::import_brenvik();
  nb::object version;
  try {
    version = host::library::version_text(library);
  } catch (nb::python_error& error) {
    // The errors of an unreadable version text; any other error passes to the caller.
    if (!error.matches(PyExc_AttributeError) && !error.matches(PyExc_ValueError) &&
        !error.matches(PyExc_IndexError)) {
      throw;
    }
    return unreadable;
  }
  // A version that is not text has no parts to read.
  if (!PyUnicode_Check(version.ptr())) return unreadable;

  const VersionTexts texts = split_version(host::utf8(version));

  // Each text is read exactly as Python's int() reads it (signs, blanks, "_" between digits, any
  // Unicode decimal digits, no size limit); a text that is not an integer gives (0, 0, 0).
  std::vector<nb::object> numbers;
  for (const std::string* text : {&texts.major, &texts.minor, &texts.patch}) {
    nb::object number = nb::steal(PyLong_FromUnicodeObject(host::py_text(*text).ptr(), 10));
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
