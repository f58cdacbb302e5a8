#pragma once
// File names made from factory names. Pure C++: no Python in here.
#include <string_view>

namespace tarnwick::build {

// Whether `name` + an extension names a file directly inside its directory. A factory name enters
// the GDS, schema and error log file names unchanged, so a name that is empty, "." or "..", or
// that holds a path separator or a NUL byte, could place a file elsewhere (or name none); such a
// name never becomes a file name.
constexpr bool is_safe_file_stem(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

}  // namespace tarnwick::build
