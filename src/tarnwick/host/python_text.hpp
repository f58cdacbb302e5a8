#pragma once
// Python texts in C++: conversion to and from UTF-8, the text forms of values, and raising errors
// with a given text. The one set of these helpers for every module.
//
// Names, error texts and paths may hold lone surrogates (for example a file name decoded with
// "surrogateescape"). They cross into C++ encoded with "surrogatepass", so every Python text
// survives the round trip unchanged instead of failing in the middle of an operation.
#include <nanobind/nanobind.h>

#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick::host {

namespace nb = nanobind;

// The UTF-8 form of a Python text. TypeError "expected a str, got <type>" when `text` is no text.
std::string utf8(nb::handle text);
// The Python text of UTF-8 bytes (as made by `utf8`; lone surrogates come back unchanged).
nb::str py_text(std::string_view text);

// str(value): the text of an error, a path or any other value as it renders itself.
nb::str text_of(nb::handle value);
// utf8(str(value)).
std::string utf8_text_of(nb::handle value);
// type(value).__name__: the short name of a value's type.
nb::str name_of_type(nb::handle value);
// The concatenation of Python texts, so that any piece (even one without a UTF-8 form) appears in
// the result exactly. TypeError when a piece is no text.
nb::str join(std::initializer_list<nb::handle> pieces);

// Raise `kind` with the message `message` (a Python text, or UTF-8 made by `utf8`).
[[noreturn]] void raise(PyObject* kind, nb::handle message);
[[noreturn]] void raise(PyObject* kind, std::string_view message);

}  // namespace tarnwick::host
