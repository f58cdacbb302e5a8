#include "tarnwick/core/depthview/direct/build_ids.hpp"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstdint>
#include <cstring>

namespace tarnwick::depthview::direct {

namespace {

constexpr std::uint32_t kBuildIdType = 3;  // NT_GNU_BUILD_ID
constexpr char kOwner[] = "GNU";           // with its terminating zero: name size 4

std::size_t padded(std::size_t size, std::size_t alignment) {
  return (size + alignment - 1) / alignment * alignment;
}

std::string hex(std::span<const std::byte> bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (std::byte b : bytes) {
    const auto value = std::to_integer<unsigned>(b);
    text += digits[value >> 4];
    text += digits[value & 15];
  }
  return text;
}

// What dl_iterate_phdr looks for: the loaded object at `base` named `name`, and its build id.
struct Search {
  ElfW(Addr) base;
  const char* name;
  bool found = false;
  std::string build_id;
};

int visit(struct dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  if (info->dlpi_addr != search->base || info->dlpi_name == nullptr ||
      std::strcmp(info->dlpi_name, search->name) != 0) {
    return 0;
  }
  search->found = true;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum && search->build_id.empty(); ++i) {
    const ElfW(Phdr) & header = info->dlpi_phdr[i];
    if (header.p_type != PT_NOTE) continue;
    const auto* start = reinterpret_cast<const std::byte*>(info->dlpi_addr + header.p_vaddr);
    search->build_id = build_id_in_notes({start, static_cast<std::size_t>(header.p_memsz)},
                                         header.p_align == 8 ? 8 : 4);
  }
  return 1;  // stop: the object is found
}

}  // namespace

std::string build_id_in_notes(std::span<const std::byte> notes, std::size_t alignment) {
  std::size_t offset = 0;
  while (notes.size() - offset >= 12) {
    std::uint32_t field[3];  // name size, descriptor size, type
    std::memcpy(field, notes.data() + offset, sizeof field);
    const std::size_t name_at = offset + 12;
    if (field[0] > notes.size() - name_at) return {};
    // Notes start aligned; the descriptor is aligned from the note's start.
    const std::size_t desc_at = offset + padded(12 + field[0], alignment);
    if (desc_at > notes.size() || field[1] > notes.size() - desc_at) return {};
    if (field[2] == kBuildIdType && field[0] == sizeof kOwner &&
        std::memcmp(notes.data() + name_at, kOwner, sizeof kOwner) == 0 && field[1] > 0) {
      return hex(notes.subspan(desc_at, field[1]));
    }
    offset = desc_at + padded(field[1], alignment);
    if (offset > notes.size()) return {};
  }
  return {};
}

std::optional<std::string> loaded_build_id(const std::string& soname) {
  // RTLD_NOLOAD: the library the loader would use for this name, only when already loaded.
  void* handle = dlopen(soname.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return std::nullopt;
  struct link_map* map = nullptr;
  std::optional<std::string> result;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) {
    Search search{map->l_addr, map->l_name};
    dl_iterate_phdr(visit, &search);
    if (search.found) result = std::move(search.build_id);
  }
  dlclose(handle);  // gives back the reference taken above; the library stays loaded
  return result;
}

std::string build_id_mismatch(std::span<const BuiltAgainst> built_against,
                              const BuildIdLookup& lookup) {
  std::string text;
  for (const BuiltAgainst& library : built_against) {
    const std::string soname(library.soname);
    const std::optional<std::string> loaded = lookup(soname);
    std::string problem;
    if (!loaded) {
      problem = soname + " is not loaded";
    } else if (*loaded != library.build_id) {
      problem = soname + " has build id " + (loaded->empty() ? "(none)" : *loaded) + ", not " +
                std::string(library.build_id);
    }
    if (problem.empty()) continue;
    text += text.empty() ? "" : "; ";
    text += problem;
  }
  return text;
}

}  // namespace tarnwick::depthview::direct
