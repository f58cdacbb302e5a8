#pragma once
// The scene's polygon pool: every distinct polygon once, as the integer database-unit coordinates
// of the hull points it keeps (x0, y0, x1, y1, ...; the closing point not repeated), back to back,
// with the start of each polygon. No Python in here.
//
// Polygon k of the pool is the polygon whose instance index is `first_index() + k`. Coordinates in
// micrometres are the stored integers divided by the layout's database units per micrometre, as
// doubles; the viewer takes those as float32.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

namespace tarnwick::depthview::model {

// A coordinate that does not fit the pool's 32-bit integers.
struct CoordinateRangeError : std::range_error {
  using std::range_error::range_error;
};

class PolygonPool {
 public:
  using Coordinate = std::int32_t;

  // Appends one polygon given as x, y coordinate pairs.
  void add(std::span<const std::int64_t> coordinates) {
    for (const std::int64_t c : coordinates) {
      if (c < std::numeric_limits<Coordinate>::min() || c > std::numeric_limits<Coordinate>::max())
        throw CoordinateRangeError("a polygon coordinate does not fit 32 bits");
    }
    coordinates_.insert(coordinates_.end(), coordinates.begin(), coordinates.end());
    starts_.push_back(coordinates_.size());
  }

  // The number of polygons held.
  std::size_t size() const { return starts_.size() - 1; }
  // The instance index of the first polygon held (polygons of earlier parses were handed on).
  std::int64_t first_index() const { return first_index_; }
  std::int64_t end_index() const { return first_index_ + static_cast<std::int64_t>(size()); }

  // The coordinates of polygon k (0-based within the pool).
  std::span<const Coordinate> polygon(std::size_t k) const {
    return {coordinates_.data() + starts_[k], starts_[k + 1] - starts_[k]};
  }
  std::size_t coordinate_count() const { return coordinates_.size(); }

  // Forgets the polygons held; the next one added gets the instance index end_index().
  void hand_on() {
    first_index_ = end_index();
    coordinates_.clear();
    coordinates_.shrink_to_fit();
    starts_.assign(1, 0);
  }

 private:
  std::vector<Coordinate> coordinates_;
  std::vector<std::size_t> starts_{0};
  std::int64_t first_index_ = 0;
};

}  // namespace tarnwick::depthview::model
