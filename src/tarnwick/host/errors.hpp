#pragma once
// Raising Python exceptions of exact kinds and texts from C++.
//
// Each function sets the Python error and throws nb::python_error, which nanobind passes to the
// caller unchanged. Use these instead of C++ exceptions whose Python kind is decided elsewhere.
#include <nanobind/nanobind.h>

#include <string>

namespace tarnwick::host {

namespace nb = nanobind;

[[noreturn]] void raise(PyObject* kind, const std::string& message);
// An AssertionError without message, for broken internal prerequisites.
[[noreturn]] void raise_assertion();
// An instance of `kind` created with `message`; not raised (it carries no trace).
nb::object make_error(nb::handle kind, const std::string& message);

}  // namespace tarnwick::host
