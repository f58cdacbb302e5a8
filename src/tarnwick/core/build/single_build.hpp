#pragma once
// The build of one factory: look-up, pre-build checks, then the construct, save and schema stages.
#include <nanobind/nanobind.h>

#include <string>

namespace tarnwick::build {

namespace nb = nanobind;

// Builds the factory `name` of the active PDK: the two checks, construction (then status
// "SUCCESS"), the GDS file (get_gds_dir()/<name>.gds, or below "no-meta" without metadata) and,
// for a schematic cell with a record and a source file, the schema file
// get_build_dir()/schemas/<name>.json. An ordinary error in a stage, or a check's message, becomes
// the returned error record (or None when the factory has no record). Returns None after a build
// that ran to its end. Errors of the look-up, inside the checks or of the outcome steps propagate.
nb::object build_by_name(const std::string& name, bool with_metadata);

// What one build gave: its result (as build_by_name returns it) and whether a check or a stage
// failed (a failure of a factory without record gives no record but counts as failed).
struct BuildOutcome {
  nb::object record;
  bool failed;
};
BuildOutcome build_outcome(const std::string& name, bool with_metadata);

}  // namespace tarnwick::build
