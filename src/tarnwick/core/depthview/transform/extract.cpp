#include "tarnwick/core/depthview/transform/extract.hpp"

namespace tarnwick::depthview::transform {

PolygonExtractor::PolygonExtractor(double units_per_micrometre, std::optional<double> tolerance)
    : units_per_micrometre_(units_per_micrometre), tolerance_(tolerance) {}

void PolygonExtractor::keep() {
  kept_.clear();
  const auto count = static_cast<std::uint32_t>(points_.size());
  if (!tolerance_) {
    for (std::uint32_t i = 0; i < count; ++i) kept_.push_back(i);
    return;
  }
  simplifier_.simplify(points_, *tolerance_, kept_);
  // The simplified ring comes back closed: its last point, equal to its first, is dropped.
  const Ring& shell = simplifier_.shell();
  if (!kept_.empty() && shell[kept_.front()] == shell[kept_.back()]) kept_.pop_back();
  // A closing point that the shell added stands for the first point.
  for (std::uint32_t& k : kept_) {
    if (k >= count) k = 0;
  }
}

void PolygonExtractor::extract(std::span<const std::int64_t> hull, std::vector<std::int64_t>& out) {
  const std::size_t count = hull.size() / 2;
  points_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    points_[i] = {static_cast<double>(hull[2 * i]) / units_per_micrometre_,
                  static_cast<double>(hull[2 * i + 1]) / units_per_micrometre_};
  }
  out.clear();
  if (!tolerance_) {
    out.assign(hull.begin(), hull.end());
    return;
  }
  keep();
  for (const std::uint32_t k : kept_) {
    out.push_back(hull[2 * k]);
    out.push_back(hull[2 * k + 1]);
  }
}

void PolygonExtractor::extract_micrometres(std::span<const double> hull, Ring& out) {
  const std::size_t count = hull.size() / 2;
  points_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    points_[i] = {hull[2 * i] / units_per_micrometre_, hull[2 * i + 1] / units_per_micrometre_};
  }
  keep();
  out.clear();
  for (const std::uint32_t k : kept_) out.push_back(points_[k]);
}

}  // namespace tarnwick::depthview::transform
