#include "tarnwick/host/runtime.hpp"

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::runtime {

std::optional<nb::object> optional_attribute(nb::handle value, const char* name) {
  PyObject* attribute = PyObject_GetAttrString(value.ptr(), name);
  if (attribute != nullptr) return nb::steal(attribute);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
  PyErr_Clear();
  return std::nullopt;
}

std::vector<Parameter> parameters(nb::handle function) {
  nb::handle inspect = bindings::inspect.resolved();
  nb::object signature = inspect.attr("signature")(function);
  nb::object empty = inspect.attr("Parameter").attr("empty");
  std::vector<Parameter> result;
  for (nb::handle parameter : signature.attr("parameters").attr("values")()) {
    nb::object default_value = parameter.attr("default");
    result.push_back({parameter.attr("name"), default_value.is(empty)
                                                  ? std::nullopt
                                                  : std::optional<nb::object>(default_value)});
  }
  return result;
}

nb::object wrapped_or_self(nb::handle function) {
  return optional_attribute(function, "__wrapped__").value_or(nb::borrow(function));
}

nb::object source_file(nb::handle function) {
  return bindings::inspect.operation("getfile")(function);
}

nb::object first_source_line(nb::handle function) {
  // findsource counts lines from 0.
  return bindings::inspect.operation("findsource")(function)[1] + nb::int_(1);
}

nb::object format_exc() { return bindings::traceback.operation("format_exc")(); }

std::optional<TraceEntry> innermost_trace_entry(nb::handle error) {
  nb::object entry = nb::getattr(error, "__traceback__", nb::none());
  if (entry.is_none()) return std::nullopt;
  for (nb::object next = entry.attr("tb_next"); !next.is_none(); next = next.attr("tb_next")) {
    entry = next;
  }
  return TraceEntry{entry.attr("tb_frame").attr("f_code").attr("co_filename"),
                    entry.attr("tb_lineno")};
}

nb::object natsorted(nb::handle values) { return bindings::natsort.operation("natsorted")(values); }

bool is_mapping(nb::handle value) {
  if (PyDict_Check(value.ptr())) return true;
  static PyObject* mapping = nullptr;  // leaked on purpose: lives as long as the process
  if (mapping == nullptr) {
    mapping = nb::object(nb::module_::import_("collections.abc").attr("Mapping")).release().ptr();
  }
  return is_instance(value, mapping);
}

bool assertions_enabled() {
  nb::object flags = nb::module_::import_("sys").attr("flags");
  return as_int64(flags.attr("optimize")) == 0;
}

void with_interrupts_held(const std::function<void()>& work) {
  // An interrupt that arrived before (during C++ work) is raised by the first Python code that
  // runs, which is the guard's own: it is kept and raised after `work`, like one held back.
  std::optional<nb::python_error> before;
  nb::object exit;
  for (;;) {
    try {
      nb::object held = bindings::interrupts.operation("held")();
      exit = held.attr("__exit__");
      held.attr("__enter__")();
      break;
    } catch (nb::python_error& error) {
      if (!error.matches(PyExc_KeyboardInterrupt)) throw;
      before.emplace(error);
    }
  }
  try {
    work();
  } catch (nb::python_error& error) {
    // A held interrupt replaces the error (with the error as its context); otherwise the error
    // goes on as it was.
    exit(nb::borrow(error.type()), nb::borrow(error.value()), error.traceback());
    if (before) throw *before;
    throw;
  } catch (...) {
    exit(nb::none(), nb::none(), nb::none());
    if (before) throw *before;
    throw;
  }
  exit(nb::none(), nb::none(), nb::none());
  if (before) throw *before;
}

}  // namespace tarnwick::host::runtime
