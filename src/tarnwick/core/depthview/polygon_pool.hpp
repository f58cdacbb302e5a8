#pragma once
// The polygon pool of the internal native scene path: every extracted polygon once, as the float32
// coordinates x0, y0, x1, y1, ... that the viewer's instance arrays hold, back to back, with the
// start of each polygon. No Python here.
//
// The values are exactly those of the Python-object path: each pool coordinate (a double) cast to
// float32, as the conversion does when it flattens a pool polygon into its instance array.
#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace tarnwick::depthview {

class PolygonPool {
 public:
  // Appends one polygon given as (x, y) points.
  void add(const std::vector<std::array<double, 2>>& points) {
    for (const auto& point : points) {
      coordinates_.push_back(static_cast<float>(point[0]));
      coordinates_.push_back(static_cast<float>(point[1]));
    }
    starts_.push_back(coordinates_.size());
  }

  std::size_t size() const { return starts_.size() - 1; }

  // The flat coordinates of polygon `index`.
  std::span<const float> polygon(std::size_t index) const {
    return {coordinates_.data() + starts_[index], starts_[index + 1] - starts_[index]};
  }

  std::size_t coordinate_count() const { return coordinates_.size(); }

 private:
  std::vector<float> coordinates_;
  std::vector<std::size_t> starts_{0};
};

}  // namespace tarnwick::depthview
