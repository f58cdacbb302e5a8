#pragma once
// Python C-API calls that turn a pending Python error into nb::python_error, so that the error
// reaches the caller unchanged instead of being lost or crashing the interpreter.
#include <nanobind/nanobind.h>

#include <cstdint>

namespace tarnwick::host {

namespace nb = nanobind;

// Throws the pending Python error when `ok` is false.
inline void check(bool ok) {
  if (!ok) throw nb::python_error();
}

// A new reference returned by a C-API call, or the pending Python error when it returned null.
inline nb::object checked(PyObject* result) {
  check(result != nullptr);
  return nb::steal(result);
}

// int(value) as a 64-bit integer; OverflowError beyond that range.
inline std::int64_t as_int64(nb::handle value) {
  const long long result = PyLong_AsLongLong(value.ptr());
  check(!(result == -1 && PyErr_Occurred()));
  return result;
}

// isinstance(value, type)
inline bool is_instance(nb::handle value, nb::handle type) {
  const int result = PyObject_IsInstance(value.ptr(), type.ptr());
  check(result >= 0);
  return result == 1;
}

// float(value), for any value with a float form.
inline double as_double(nb::handle value) {
  const double result = PyFloat_AsDouble(value.ptr());
  check(!(result == -1.0 && PyErr_Occurred()));
  return result;
}

// bool(value)
inline bool truthy(nb::handle value) {
  const int result = PyObject_IsTrue(value.ptr());
  check(result >= 0);
  return result == 1;
}

// len(collection) > 0
inline bool non_empty(nb::handle collection) {
  const Py_ssize_t size = PyObject_Length(collection.ptr());
  check(size >= 0);
  return size > 0;
}

// One level of the runtime's recursion limit, held for the guard's life: deep values end in
// RecursionError, never in a stack overflow. `where` ends the error text (" in ...").
class RecursionGuard {
 public:
  explicit RecursionGuard(const char* where) { check(Py_EnterRecursiveCall(where) == 0); }
  ~RecursionGuard() { Py_LeaveRecursiveCall(); }
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
};

// key in container
inline bool contains(nb::handle container, nb::handle key) {
  const int found = PySequence_Contains(container.ptr(), key.ptr());
  check(found >= 0);
  return found == 1;
}

}  // namespace tarnwick::host
