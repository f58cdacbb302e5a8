#pragma once
// The scene's polygon pool: every distinct polygon once, as the integer database-unit coordinates
// of the hull points it keeps (x0, y0, x1, y1, ...; the closing point not repeated). No Python in
// here.
//
// Polygon k of the pool is the polygon whose pool index is `first_index() + k`. Coordinates in
// micrometres are the stored integers divided by the layout's database units per micrometre, as
// doubles; the viewer takes those as float32.
//
// The coordinates live in blocks of a fixed size that are never moved, so the pool grows without
// copying what it holds and without holding twice its size while it grows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
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
    Coordinate* out = room(coordinates.size());
    for (const std::int64_t c : coordinates) {
      if (c < std::numeric_limits<Coordinate>::min() || c > std::numeric_limits<Coordinate>::max())
        throw CoordinateRangeError("a polygon coordinate does not fit 32 bits");
      *out++ = static_cast<Coordinate>(c);
    }
    polygons_.push_back({out - coordinates.size(), static_cast<std::uint32_t>(coordinates.size())});
    used_ += coordinates.size();
    count_ += coordinates.size();
  }

  // The number of polygons held.
  std::size_t size() const { return polygons_.size(); }
  // The pool index of the first polygon held (polygons of earlier parses were handed on).
  std::int64_t first_index() const { return first_index_; }
  std::int64_t end_index() const { return first_index_ + static_cast<std::int64_t>(size()); }

  // The coordinates of polygon k (0-based within the pool).
  std::span<const Coordinate> polygon(std::size_t k) const {
    return {polygons_[k].data, polygons_[k].size};
  }
  std::size_t coordinate_count() const { return count_; }

  // Frees the memory of every block whose polygons all come before polygon k: a pool read once,
  // front to back, can so shrink as it is read. Those polygons may not be read again. Whether a
  // block was freed.
  bool release_before(std::size_t k) {
    const std::size_t before = released_;
    while (
        released_ < blocks_.size() &&
        (released_ + 1 == blocks_.size() ? k >= polygons_.size() : k >= block_ends_[released_])) {
      blocks_[released_++].reset();
    }
    return released_ != before;
  }

  // Forgets the polygons held; the next one added gets the pool index end_index().
  void hand_on() {
    first_index_ = end_index();
    *this = PolygonPool(first_index_);
  }

 private:
  static constexpr std::size_t kBlock = 1 << 18;  // coordinates per block (1 MiB)

  struct Entry {
    const Coordinate* data;
    std::uint32_t size;
  };

  explicit PolygonPool(std::int64_t first_index) : first_index_(first_index) {}

 public:
  PolygonPool() = default;
  PolygonPool(PolygonPool&&) = default;
  PolygonPool& operator=(PolygonPool&&) = default;
  PolygonPool(const PolygonPool&) = delete;
  PolygonPool& operator=(const PolygonPool&) = delete;

 private:
  // Room for `count` coordinates in one piece: in the current block, or in a new one.
  Coordinate* room(std::size_t count) {
    if (blocks_.empty() || used_ + count > capacity_) {
      capacity_ = std::max(kBlock, count);
      if (!blocks_.empty()) block_ends_.push_back(polygons_.size());
      blocks_.push_back(std::make_unique<Coordinate[]>(capacity_));
      used_ = 0;
    }
    return blocks_.back().get() + used_;
  }

  std::vector<std::unique_ptr<Coordinate[]>> blocks_;
  std::vector<std::size_t> block_ends_;  // of each full block: the index of its first successor
  std::size_t released_ = 0;             // blocks freed by release_before
  std::size_t capacity_ = 0;             // of the current block
  std::size_t used_ = 0;                 // of the current block
  std::vector<Entry> polygons_;
  std::size_t count_ = 0;
  std::int64_t first_index_ = 0;
};

}  // namespace tarnwick::depthview::model
