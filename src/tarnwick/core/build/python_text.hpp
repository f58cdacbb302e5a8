#pragma once
// Python text <-> UTF-8 bytes in C++, without losing any Python text.
//
// Factory names, error texts and paths may hold lone surrogates (for example a file name decoded
// with "surrogateescape"). They are carried through C++ encoded with "surrogatepass", so every
// Python text survives the round trip unchanged instead of failing in the middle of a build.
#include <nanobind/nanobind.h>

#include "tarnwick/host/checked.hpp"

#include <string>

namespace tarnwick::build {

namespace nb = nanobind;

// The UTF-8 form of a Python text. Raises TypeError (as nb::python_error) when `text` is no text.
std::string utf8(nb::handle text);
// The Python text of UTF-8 bytes made by `utf8`.
nb::str py_text(const std::string& text);
// str(value) in UTF-8: the text of an error, a path or any other value as it renders itself.
std::string text_of(nb::handle value);
// type(value).__name__: the short name of a value's type.
std::string type_name_of(nb::handle value);
// `key in container`, with the container's own membership test.
using host::contains;

}  // namespace tarnwick::build
