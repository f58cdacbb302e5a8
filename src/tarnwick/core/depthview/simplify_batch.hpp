#pragma once
// Simplification of many rings at once, on every core. No Python here.
//
// The native scene path collects the scaled hulls of a parse here and simplifies them together:
// each worker thread has its own Simplifier (its own reentrant GEOS context), and the results go
// into the polygon pool in the order the rings were added, so the pool is exactly what simplifying
// one ring after the other gives. When rings fail, the failure of the first of them (in adding
// order) is thrown, as one-by-one simplification would have thrown it first.
#include <array>
#include <atomic>
#include <cstddef>
#include <optional>
#include <vector>

#include "tarnwick/core/depthview/polygon_pool.hpp"
#include "tarnwick/core/depthview/simplify.hpp"

namespace tarnwick::depthview {

class SimplifyBatch {
 public:
  // Adds a ring (in micrometres, not closed) to simplify at the next flush.
  void add(const Ring& points) {
    points_.insert(points_.end(), points.begin(), points.end());
    starts_.push_back(points_.size());
  }
  bool empty() const { return starts_.size() == 1; }

  // Simplifies every ring added since the last flush and appends each result, without its closing
  // point when that equals the first, to `pool`. Throws the SimplifyError of the first failing
  // ring; the batch is empty afterwards in either case.
  void flush(double tolerance, PolygonPool& pool);

 private:
  struct Outcome {
    Ring ring;
    std::optional<SimplifyError> error;
  };
  // One worker: claims chunks of rings until none are left.
  void run(std::vector<Outcome>& outcomes, std::atomic<std::size_t>& next, double tolerance,
           std::size_t count) const;

  std::vector<std::array<double, 2>> points_;
  std::vector<std::size_t> starts_{0};
};

}  // namespace tarnwick::depthview
