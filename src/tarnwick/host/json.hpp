#pragma once
// The one JSON writer of the package.
//
// Every module writes JSON through here. Map entries keep insertion order, pairs and lists become
// arrays, integers are written without and floats with a decimal point, and a value without a JSON
// form is handed to the host's fallback hook `tarnwick.core.shared.none` and replaced by what it
// returns. The bytes are exactly orjson's for the same value and options, because orjson writes
// them.
#include <nanobind/nanobind.h>

namespace tarnwick::host::json {

namespace nb = nanobind;

enum class Style {
  compact,  // no insignificant whitespace (viewer messages)
  indent2,  // two-space indentation (schema files)
  scene,    // two-space indentation, numeric arrays as arrays of numbers, non-text keys as text
};

// The JSON text of `value` as UTF-8 bytes.
nb::bytes dumps_bytes(nb::handle value, Style style);
// The JSON text of `value` as text.
nb::str dumps(nb::handle value, Style style);

}  // namespace tarnwick::host::json
