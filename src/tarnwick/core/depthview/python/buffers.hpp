#pragma once
// Buffer encoding: numeric arrays of a scene map become base64 buffer records for the JSON message.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview::python {

namespace nb = nanobind;

// Walks `value` (maps, lists, tuples, numpy arrays, anything else) and returns a new tree in which
// every numeric numpy array is replaced by its buffer record, a new map
//   {"shape": (n,), "dtype": numpy's name of the element type, "buffer": base64 text, "codec":
//   "b64"}
// with n the element count of the flattened array. Lists and tuples become new lists, maps new maps
// with the same keys in the same order (keys are not walked); every other value, including arrays
// of non-numeric element types, is returned as it is. The input is never modified.
//
// The result must be a map or None: any other kind raises TypeError naming both kinds. Arrays are
// encoded straight from their memory; a non-contiguous array is copied once into row-major order,
// and an array in non-native byte order once into native order.
nb::object numpy_to_buffer_json(nb::handle value);

}  // namespace tarnwick::depthview::python
