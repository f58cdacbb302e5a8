#pragma once
// The batch driver: builds factories by name in natural order between two database bookends.
#include <nanobind/nanobind.h>

namespace tarnwick::build {

namespace nb = nanobind;

// Marks every name "BUSY" (caller's order), builds them one after the other in natural order
// (natsort.natsorted), resynchronises the database, logs and stores the error records, and in
// every case ends by sending ReloadFactoriesMessage. An error escaping a build or a bookend ends
// the batch and reaches the caller after the reload message; nothing is rolled back.
// `names` is a tuple of texts (TypeError before any effect when one is not a text).
void build_by_names(nb::tuple names, bool with_metadata);

}  // namespace tarnwick::build
