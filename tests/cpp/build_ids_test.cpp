// GNU build ids: the note reader on crafted note segments, the loaded-library look-up on this very
// process, and the comparison that decides whether the direct KLayout module may be used.
#include "tarnwick/core/depthview/direct/build_ids.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

using namespace tarnwick::depthview::direct;

namespace {

// One ELF note: name size, descriptor size, type, name and descriptor padded to `alignment`.
void add_note(std::vector<std::byte>& out, std::uint32_t type, std::string_view name,
              std::vector<std::uint8_t> desc, std::size_t alignment = 4) {
  const std::uint32_t header[3] = {static_cast<std::uint32_t>(name.size()),
                                   static_cast<std::uint32_t>(desc.size()), type};
  const auto* raw = reinterpret_cast<const std::byte*>(header);
  out.insert(out.end(), raw, raw + sizeof header);
  auto pad = [&] {
    while (out.size() % alignment != 0) out.push_back(std::byte{0});
  };
  for (char c : name) out.push_back(static_cast<std::byte>(c));
  pad();
  for (std::uint8_t b : desc) out.push_back(static_cast<std::byte>(b));
  pad();
}

constexpr std::string_view kGnu{"GNU\0", 4};

}  // namespace

TEST(BuildIdInNotes, FindsTheGnuBuildIdAmongOtherNotes) {
  for (std::size_t alignment : {4u, 8u}) {
    std::vector<std::byte> notes;
    add_note(notes, 1, kGnu, {1, 2, 3, 4, 5}, alignment);                 // ABI tag: another type
    add_note(notes, 3, std::string_view{"XYZ\0", 4}, {9, 9}, alignment);  // another owner
    add_note(notes, 3, kGnu, {0x00, 0xab, 0x0f, 0xff}, alignment);
    EXPECT_EQ(build_id_in_notes(notes, alignment), "00ab0fff") << alignment;
  }
}

TEST(BuildIdInNotes, NoneOrMalformedGivesEmpty) {
  std::vector<std::byte> notes;
  add_note(notes, 1, kGnu, {1, 2, 3, 4});
  EXPECT_EQ(build_id_in_notes(notes, 4), "");
  EXPECT_EQ(build_id_in_notes({}, 4), "");
  // A descriptor size beyond the segment: nothing is read past its end.
  std::vector<std::byte> truncated;
  add_note(truncated, 3, kGnu, {1, 2, 3, 4, 5, 6, 7, 8});
  truncated.resize(truncated.size() - 4);
  EXPECT_EQ(build_id_in_notes(truncated, 4), "");
  std::vector<std::byte> huge_name;
  add_note(huge_name, 3, kGnu, {1});
  const std::uint32_t name_size = 0xfffffff0u;
  std::memcpy(huge_name.data(), &name_size, sizeof name_size);
  EXPECT_EQ(build_id_in_notes(huge_name, 4), "");
}

TEST(LoadedBuildId, ReadsLoadedLibrariesOnly) {
  // This test program links the C++ runtime; Debian builds it with a build id.
  const auto runtime = loaded_build_id("libstdc++.so.6");
  ASSERT_TRUE(runtime.has_value());
  EXPECT_EQ(runtime->size(), 40u);
  EXPECT_EQ(runtime->find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_FALSE(loaded_build_id("libtarnwick-no-such-library.so.1").has_value());
}

TEST(BuildIdMismatch, NamesEveryMissingOrDifferentLibrary) {
  const std::map<std::string, std::string> loaded = {
      {"liba.so", "aaaa"}, {"libb.so", "bbbb"}, {"libn.so", ""}};
  const BuildIdLookup lookup = [&](const std::string& soname) -> std::optional<std::string> {
    const auto found = loaded.find(soname);
    if (found == loaded.end()) return std::nullopt;
    return found->second;
  };
  const BuiltAgainst same[] = {{"liba.so", "aaaa"}, {"libb.so", "bbbb"}};
  EXPECT_EQ(build_id_mismatch(same, lookup), "");
  const BuiltAgainst other[] = {
      {"liba.so", "aaaa"}, {"libb.so", "cccc"}, {"libc.so", "dddd"}, {"libn.so", "eeee"}};
  EXPECT_EQ(build_id_mismatch(other, lookup),
            "libb.so has build id bbbb, not cccc; libc.so is not loaded; "
            "libn.so has build id (none), not eeee");
}
