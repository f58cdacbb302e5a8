#pragma once
// The map form of scene records, and its JSON text.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview::python {

namespace nb = nanobind;

// The map form of `obj`, recursively: a scene record becomes a map of its fields in order, without
// the fields whose value is an empty list, tuple or map; an object with `to_dict` (a KTrans) its
// to_dict(); lists and tuples lists; maps maps; everything else (numpy arrays included) is itself.
// Any depth is walked (no recursion); a value that contains itself is a ValueError.
nb::object asdict(nb::handle obj);

// The JSON text of asdict(data): two-space indentation, numeric arrays as arrays of numbers,
// non-text keys as text, the host's fallback hook for anything else.
nb::str create_json(nb::handle data);

}  // namespace tarnwick::depthview::python
