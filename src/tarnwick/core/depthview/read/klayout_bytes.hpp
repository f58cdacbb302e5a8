#pragma once
// KLayout's binary forms of polygons and complex transformations (their to_bytes()), read in plain
// C++. No Python in here. Every decoder returns false when the bytes are not in exactly the
// expected form, so that the caller can fall back to KLayout's point-by-point API.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::read {

namespace bytes_detail {
static_assert(std::endian::native == std::endian::little);

template <typename T>
T read_at(std::string_view data, std::size_t offset) {
  T value;
  std::memcpy(&value, data.data() + offset, sizeof value);
  return value;
}
}  // namespace bytes_detail

// The hull of a polygon's binary form, appended to `coordinates` as x, y pairs: version byte 1, a
// flag byte 0, the contour count (64 bits), then per contour its point count (64 bits) and its
// points as 64-bit x, y pairs, all little-endian; the first contour is the hull, the others are
// holes (not read). On false, `coordinates` keeps its size.
inline bool decode_polygon_hull(std::string_view data, std::vector<std::int64_t>& coordinates) {
  using bytes_detail::read_at;
  if (data.size() < 10 || data[0] != 1 || data[1] != 0) return false;
  const auto contours = read_at<std::uint64_t>(data, 2);
  std::size_t offset = 10;
  std::size_t hull_at = 0;
  std::uint64_t hull_points = 0;
  for (std::uint64_t c = 0; c < contours; ++c) {
    if (data.size() - offset < 8) return false;
    const auto points = read_at<std::uint64_t>(data, offset);
    offset += 8;
    if (points > (data.size() - offset) / 16) return false;
    if (c == 0) {
      hull_at = offset;
      hull_points = points;
    }
    offset += 16 * points;
  }
  if (offset != data.size()) return false;
  const std::size_t before = coordinates.size();
  coordinates.resize(before + 2 * hull_points);
  std::memcpy(coordinates.data() + before, data.data() + hull_at, 16 * hull_points);
  return true;
}

// A complex transformation's binary form: version byte 1, a flag byte 0, the displacement (two
// 64-bit integers for ICplxTrans, two doubles for DCplxTrans), then sine, cosine and the signed
// magnification as doubles.
inline bool decode_complex_trans(std::string_view data, bool floating, model::Placement& out) {
  using bytes_detail::read_at;
  if (data.size() != 42 || data[0] != 1 || data[1] != 0) return false;
  const double dx =
      floating ? read_at<double>(data, 2) : static_cast<double>(read_at<std::int64_t>(data, 2));
  const double dy =
      floating ? read_at<double>(data, 10) : static_cast<double>(read_at<std::int64_t>(data, 10));
  out = model::Placement::complex_from(read_at<double>(data, 18), read_at<double>(data, 26),
                                       read_at<double>(data, 34), dx, dy, floating);
  return true;
}

}  // namespace tarnwick::depthview::read
