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
//
// `report`, when given, is called after each build with (name, failed, result): whether a check or
// a stage failed, and the build's result (its error record or None). It tells a caller what its own
// batch did, which the database cannot (another batch may write the same rows meanwhile). An error
// it raises ends the batch like an error of a build.
void build_by_names(nb::tuple names, bool with_metadata, nb::handle report = nb::handle());

}  // namespace tarnwick::build
