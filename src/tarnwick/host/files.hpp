#pragma once
// Paths, directories and files, through the runtime's pathlib, os and tempfile, and the host's
// tarnwick.files.
#include <nanobind/nanobind.h>

#include <string>
#include <string_view>

#include "tarnwick/support/atomic_file.hpp"

namespace tarnwick::host::files {

namespace nb = nanobind;
using support::files::ContentCheck;

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
// Writes `data` (bytes) to the file at `path`, replacing it whole or not at all, through the
// host's own writer (tarnwick.files.write_bytes): a temporary file beside it, flushed to disk
// before it takes the name, a link followed, the mode of the file it replaces kept. A failed write
// raises OSError and leaves no partial file.
void write_bytes(nb::handle path, nb::handle data);
// write_bytes of `text` (a Python text) as UTF-8.
void write_text(nb::handle path, nb::handle text);

// A pathlib.Path beside `path` (same directory) for a temporary file that does not exist yet,
// ending in `suffix`. Whoever writes it hands it to `commit`, or removes it with `remove_quietly`.
nb::object temporary_path_beside(nb::handle path, const char* suffix);
// Flushes the finished temporary file to disk, lets `check` judge its content (a refusal raises
// OSError with the check's text) and renames it to `path`. On failure the temporary file is
// removed and OSError raised.
void commit(nb::handle temporary, nb::handle path, const ContentCheck& check = {});
// Removes the file at `path` if it exists; never raises.
void remove_quietly(nb::handle path) noexcept;
// The operating system's form of a path (os.fsencode(os.fspath(path))).
std::string os_path(nb::handle path);
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
