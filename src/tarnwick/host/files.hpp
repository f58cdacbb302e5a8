#pragma once
// Paths, directories and files, through the runtime's pathlib, os and tempfile.
#include <nanobind/nanobind.h>

#include <string_view>

namespace tarnwick::host::files {

namespace nb = nanobind;

// pathlib.Path(value).
nb::object path(nb::handle value);
// `directory` / `name` as a pathlib.Path (`name` is UTF-8 made by host::utf8).
nb::object child(nb::handle directory, std::string_view name);
// The directory that holds `path`.
nb::object parent(nb::handle path);
// Creates `directory` with any missing parents; an existing directory is fine.
void make_directories(nb::handle directory);
// Whether `path` names an existing regular file.
bool is_file(nb::handle path);
// The whole text of the file at `path`, read as UTF-8.
nb::object read_text(nb::handle path);
// Writes `data` (bytes) to the file at `path`, replacing it.
void write_bytes(nb::handle path, nb::handle data);
// Writes `text` (a Python text) to the file at `path` as UTF-8, replacing it.
void write_text(nb::handle path, nb::handle text);
// Removes the file at `path`.
void remove(nb::handle path);
// The path of a new, empty, closed file in the system's temporary directory, named with `suffix`.
// The caller removes it.
nb::object temporary_file(const char* suffix);

// Checks what a host service returned as a path: TypeError "<service>.<operation>() gave <type>,
// not a path" when it is neither a text nor an os.PathLike.
void check_path_from_service(nb::handle value, const char* service, const char* operation);
// The pathlib.Path of what a host service returned as a path, checked as above.
nb::object path_from_service(nb::handle value, const char* service, const char* operation);

}  // namespace tarnwick::host::files
