#pragma once
// KLayout's binary polygon form (Polygon.to_bytes), read in plain C++. No Python in here.
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tarnwick::depthview {

// Hull points in the layout's database units, in hull order, the closing point not repeated.
using Hull = std::vector<std::array<double, 2>>;

// Decodes the hull of a polygon's binary form: version byte 1, a flag byte 0, the contour count
// (64 bits), then per contour its point count (64 bits) and its points as 64-bit x, y pairs, all
// little-endian; the first contour is the hull, the others are holes. Returns false when the bytes
// are not in exactly that form (`hull` is then unspecified), so that the caller can fall back to
// the point-by-point API.
inline bool decode_polygon_bytes(const char* data, std::size_t size, Hull& hull) {
  static_assert(std::endian::native == std::endian::little);
  auto read_u64 = [&](std::size_t offset) {
    std::uint64_t value;
    std::memcpy(&value, data + offset, sizeof value);
    return value;
  };
  if (size < 10 || data[0] != 1 || data[1] != 0) return false;
  const std::uint64_t contours = read_u64(2);
  std::size_t offset = 10;
  for (std::uint64_t c = 0; c < contours; ++c) {
    if (size - offset < 8) return false;
    const std::uint64_t points = read_u64(offset);
    offset += 8;
    if (points > (size - offset) / 16) return false;
    if (c == 0) {
      hull.resize(points);
      for (std::uint64_t i = 0; i < points; ++i) {
        std::int64_t xy[2];
        std::memcpy(xy, data + offset + 16 * i, sizeof xy);
        hull[i] = {static_cast<double>(xy[0]), static_cast<double>(xy[1])};
      }
    }
    offset += 16 * points;
  }
  if (contours == 0) hull.clear();
  return offset == size;
}

}  // namespace tarnwick::depthview
