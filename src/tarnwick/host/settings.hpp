#pragma once
// The host's settings service (tarnwick.settings): the output directories.
//
// Each directory is asked afresh at every call and handed back as a pathlib.Path. A setting that
// gives no path (neither a text nor an os.PathLike) is a TypeError that names the operation.
#include <nanobind/nanobind.h>

namespace tarnwick::host::settings {

namespace nb = nanobind;

// get_build_dir(): the build directory (schema files go below it).
nb::object build_dir();
// get_gds_dir(): the directory of built GDS files.
nb::object gds_dir();
// get_log_dir(): the directory of per-factory error logs (used as it is, never created here).
nb::object log_dir();

}  // namespace tarnwick::host::settings
