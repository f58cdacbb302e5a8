#pragma once
// The host's settings service (tarnwick.settings): the output directories.
//
// Each directory is asked afresh at every call and handed back as a pathlib.Path. A setting that
// gives no path (neither a text nor an os.PathLike) is a TypeError that names the operation.
#include <nanobind/nanobind.h>

#include <cstdint>

namespace tarnwick::host::settings {

namespace nb = nanobind;

// get_build_dir(): the build directory (schema files go below it).
nb::object build_dir();
// get_gds_dir(): the directory of built GDS files.
nb::object gds_dir();
// get_log_dir(): the directory of per-factory error logs (used as it is, never created here).
nb::object log_dir();

// get_max_placements(): the most cell placements a 3D scene may hold.
std::uint64_t max_placements();
// get_max_record_placements(): the most placements a scene may hold on the records route.
std::uint64_t max_record_placements();
// get_max_message_bytes(): the most bytes the names and ids of a 3D scene may take.
std::uint64_t max_message_bytes();

}  // namespace tarnwick::host::settings
