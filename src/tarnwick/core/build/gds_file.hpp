#pragma once
// Whether the bytes of a GDS file are complete. Pure C++: no Python in here.
//
// The component library writes GDS files through KLayout, whose writer does not report every
// failed write (a full disk can cut a small file short in silence). A complete GDS stream is a
// chain of records (two bytes of length, big-endian and counting the four header bytes, one byte of
// record type, one of data type) that starts with HEADER and ends with ENDLIB, after which only
// zero padding may follow. A file cut short breaks that chain.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::build {

// Why `content` is not a complete GDS stream, or nothing when it is.
inline std::optional<std::string> gds_incompleteness(std::string_view content) {
  constexpr unsigned char HEADER = 0x00, ENDLIB = 0x04;
  if (content.empty()) return "it is empty";
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(content[at]); };
  std::size_t at = 0;
  while (at + 4 <= content.size()) {
    const std::size_t length = std::size_t{byte(at)} << 8 | byte(at + 1);
    const unsigned char type = byte(at + 2);
    if (length < 4 || (at == 0 && type != HEADER)) {
      return "it holds no valid record at byte " + std::to_string(at);
    }
    if (at + length > content.size()) break;
    at += length;
    if (type == ENDLIB) {
      if (content.substr(at).find_first_not_of('\0') != std::string_view::npos) {
        return "it holds data after its end-of-library record";
      }
      return std::nullopt;
    }
  }
  const std::string size = std::to_string(content.size());
  if (at == content.size())
    return "it ends after " + size + " bytes without its end-of-library record";
  return "it ends inside a record after " + size + " bytes";
}

}  // namespace tarnwick::build
