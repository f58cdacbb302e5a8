#pragma once
// Files written whole or not at all. Pure C++ (POSIX): no Python in here.
//
// A file is written under a temporary name in its own directory, flushed to disk, and only then
// renamed over its final name; a failed or short write, a failed flush or rename is an error, and
// the temporary file is removed. Readers of the final name see either the old file or the complete
// new one, never a part, also after a crash (the content is on disk before the rename). The
// directory itself is not flushed: after a crash the name may still show the old file.
//
// This is the committing half, for files that C++ writers stream out themselves (the glTF writer,
// the component library's GDS files). Whole files written from the Python side go through the
// host's one writer, tarnwick.files (host/files.hpp), which also follows links and keeps modes.
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace tarnwick::support::files {

// The error of a failed file operation: the errno value and the file's (final) path.
class FileError : public std::system_error {
 public:
  FileError(int error_number, std::string path)
      : std::system_error(error_number, std::generic_category(), path), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A file whose content is complete on disk but that the caller refuses; `what()` says why.
class RefusedContent : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A name for a temporary file beside `path` (same directory) that does not exist yet: hidden,
// ".<stem>.<random>" + `suffix` where <stem> is the last component of `path` without `suffix`
// (for example ".ring.1a2b3c4d.gds" for "ring.gds" and ".gds"), or a fixed-length name when that
// would be too long for a file name.
std::string temporary_name_beside(const std::string& path, std::string_view suffix = ".tmp");

// Checks the complete content of a file before it takes its final name; a text when it is refused.
using ContentCheck = std::function<std::optional<std::string>(std::string_view content)>;

// Flushes the file `temporary` (written by someone else, closed) to disk, lets `check` judge its
// content and renames it to `path`. On any failure `temporary` is removed
// and FileError (naming `path`) or RefusedContent is thrown.
void commit(const std::string& temporary, const std::string& path, const ContentCheck& check = {});

// Removes `path` when it exists; errors are ignored (a clean-up step on an error path).
void remove_quietly(const std::string& path) noexcept;

}  // namespace tarnwick::support::files
