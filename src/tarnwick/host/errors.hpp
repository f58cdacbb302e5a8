#pragma once
// Raising Python exceptions of exact kinds and texts from C++.
//
// Each function sets the Python error and throws nb::python_error, which nanobind passes to the
// caller unchanged. Use these instead of C++ exceptions whose Python kind is decided elsewhere.
// `raise(kind, message)` itself lives with the other Python-text helpers (python_text.hpp).
#include <nanobind/nanobind.h>

#include "tarnwick/host/python_text.hpp"

namespace tarnwick::host {

namespace nb = nanobind;

// An AssertionError without message, for broken internal prerequisites.
[[noreturn]] void raise_assertion();

}  // namespace tarnwick::host
