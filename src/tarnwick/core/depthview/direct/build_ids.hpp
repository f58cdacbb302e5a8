#pragma once
// GNU build ids of the shared libraries loaded in this process. Plain C++: no Python in here.
//
// A module compiled against one build of a library may load under another build of it (same
// names, same symbols) and then crash on first use. The build id, a hash the linker writes into a
// note of every library, tells two builds apart; comparing the ids recorded when a module was
// built with those of the libraries actually loaded is the guard against that.
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick::depthview::direct {

// The GNU build id in a segment of ELF notes, in lowercase hexadecimal. The segment is laid out as
// in a file or in memory: per note its name size, descriptor size and type, then its name and its
// descriptor, each starting at a multiple of `alignment` (4 or 8) from the note's start. Empty
// when the segment holds no build id note of owner "GNU" or is malformed.
std::string build_id_in_notes(std::span<const std::byte> notes, std::size_t alignment);

// The build id of the library that the dynamic loader uses for the name `soname` in this process,
// read from its notes in memory; nullopt when no library of that name is loaded (nothing is
// loaded by asking), empty when the loaded library has no build id.
std::optional<std::string> loaded_build_id(const std::string& soname);

// A library a module was built against: its name for the loader and its build id.
struct BuiltAgainst {
  std::string_view soname;
  std::string_view build_id;
};

using BuildIdLookup = std::function<std::optional<std::string>(const std::string& soname)>;

// Empty when every library of `built_against` is loaded (as `lookup` tells) with the recorded
// build id; otherwise a text naming each library that is missing or differs, for the reader's
// stage report.
std::string build_id_mismatch(std::span<const BuiltAgainst> built_against,
                              const BuildIdLookup& lookup = loaded_build_id);

}  // namespace tarnwick::depthview::direct
