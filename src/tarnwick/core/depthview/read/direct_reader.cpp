#include "tarnwick/core/depthview/read/direct_reader.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "tarnwick/core/depthview/read/direct_capsule.hpp"
#include "tarnwick/host/klayout.hpp"

namespace tarnwick::depthview::read {

namespace {

bool switched_off() {
  const char* value = std::getenv(direct_switch);
  if (value == nullptr) return false;
  std::string text(value);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text == "0" || text == "off" || text == "false" || text == "no";
}

// str() of the pending Python error, which is cleared.
std::string pending_error_text() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string text = type != nullptr ? reinterpret_cast<PyTypeObject*>(type)->tp_name : "error";
  if (PyObject* description = value != nullptr ? PyObject_Str(value) : nullptr) {
    if (const char* utf8 = PyUnicode_AsUTF8(description)) text += std::string(": ") + utf8;
    Py_DECREF(description);
  }
  PyErr_Clear();
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return text;
}

// The outcome of importing the module, once per process: the factory, or why there is none.
struct Module {
  direct_capsule::Factory factory = nullptr;
  std::string why_not;
};

Module load_module() {
  Module result;
  try {
    host::klayout::layout_type();  // the module links the libraries klayout.db loads
  } catch (nb::python_error& error) {
    if (!error.matches(PyExc_Exception)) throw;  // Ctrl-C or an exit: not about the module
    error.restore();
    result.why_not = "klayout.db does not import: " + pending_error_text();
    return result;
  }
  PyObject* module = PyImport_ImportModule(direct_capsule::module_name);
  if (module == nullptr) {
    // Ctrl-C (or an exit) while the module loads says nothing about it: raised, not remembered.
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw nb::python_error();
    if (PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) {
      PyErr_Clear();
      result.why_not = std::string(direct_capsule::module_name) + " is not built";
    } else {
      result.why_not =
          std::string(direct_capsule::module_name) + " is not usable: " + pending_error_text();
    }
    return result;
  }
  // The module stays imported for the life of the process: the readers' code lives in it.
  PyObject* capsule = PyObject_GetAttrString(module, direct_capsule::attribute);
  Py_DECREF(module);
  void* pointer = capsule != nullptr && PyCapsule_IsValid(capsule, direct_capsule::capsule_name)
                      ? PyCapsule_GetPointer(capsule, direct_capsule::capsule_name)
                      : nullptr;
  Py_XDECREF(capsule);
  PyErr_Clear();
  if (pointer == nullptr) {
    result.why_not = std::string(direct_capsule::module_name) + " has no layout reader " +
                     direct_capsule::capsule_name;
    return result;
  }
  result.factory = reinterpret_cast<direct_capsule::Factory>(pointer);
  return result;
}

}  // namespace

std::unique_ptr<LayoutReader> open_direct_reader(nb::handle layout, std::string& why_not) {
  if (switched_off()) {
    why_not = std::string("switched off by ") + direct_switch + "=" + std::getenv(direct_switch);
    return nullptr;
  }
  // Made once, under the GIL. Not a function-local static: the import may release the GIL, and
  // another thread would then wait for the static's guard while holding the GIL.
  static const Module* module = nullptr;
  if (module == nullptr) {
    Module loaded = load_module();
    if (module == nullptr) module = new Module(std::move(loaded));  // lives as long as the process
  }
  if (module->factory == nullptr) {
    why_not = module->why_not;
    return nullptr;
  }
  std::unique_ptr<LayoutReader> reader(module->factory(layout.ptr(), &why_not));
  if (reader == nullptr && PyErr_Occurred() != nullptr) throw nb::python_error();  // Ctrl-C
  return reader;
}

}  // namespace tarnwick::depthview::read
