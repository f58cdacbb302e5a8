#pragma once
// Whether GEOS's topology-preserving simplification of a ring keeps every one of its points, found
// without GEOS. No Python here.
//
// That simplification is Douglas-Peucker with extra conditions: a section from point i to point j
// (j > i + 1) is flattened to its end points only when the point farthest from the segment i-j
// (the first of equally far ones) lies within the tolerance and the topology checks pass;
// otherwise it is split at that farthest point and both halves are treated alike, starting with
// the whole ring, from its first point to its closing point. The topology checks can only keep
// points, never remove them. So when every section that this recursion visits has its farthest
// point farther than the tolerance, nothing is flattened and the result is the ring unchanged:
// the same points, in the same order, from the same start.
//
// Distances are computed as GEOS computes the distance of a point to a segment (to the nearer end
// point beyond the segment's ends, to the end point for a degenerate segment). So that rounding
// can never make a difference, the answer is "keeps everything" only with a clear margin: each
// farthest distance must exceed the tolerance by a relative 1e-6, and no other point of a section
// may come within a relative 1e-9 of its farthest distance (a near tie could make GEOS split
// elsewhere). In every other case the caller asks GEOS.
#include <array>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace tarnwick::depthview::transform {

namespace simplify_shortcut {

using Point = std::array<double, 2>;

inline double point_distance(const Point& p, const Point& q) {
  const double dx = p[0] - q[0];
  const double dy = p[1] - q[1];
  return std::sqrt(dx * dx + dy * dy);
}

// Distance of p to the segment a-b.
inline double segment_distance(const Point& p, const Point& a, const Point& b) {
  if (a == b) return point_distance(p, a);
  const double dx = b[0] - a[0];
  const double dy = b[1] - a[1];
  const double length2 = dx * dx + dy * dy;
  const double r = ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / length2;
  if (r <= 0.0) return point_distance(p, a);
  if (r >= 1.0) return point_distance(p, b);
  const double s = ((a[1] - p[1]) * dx - (a[0] - p[0]) * dy) / length2;
  return std::fabs(s) * std::sqrt(length2);
}

}  // namespace simplify_shortcut

// True when simplifying the closed ring `ring` (last point equal to the first, at least four
// points) with `tolerance` surely leaves it unchanged; false when GEOS has to decide.
inline bool keeps_every_point(const std::vector<std::array<double, 2>>& ring, double tolerance) {
  using simplify_shortcut::segment_distance;
  if (ring.size() < 4 || ring.front() != ring.back() || !(tolerance >= 0.0)) return false;
  const double needed = tolerance * (1.0 + 1e-6) + 1e-300;
  std::vector<std::pair<std::size_t, std::size_t>> sections{{0, ring.size() - 1}};
  while (!sections.empty()) {
    const auto [i, j] = sections.back();
    sections.pop_back();
    if (j <= i + 1) continue;
    double farthest = -1.0;
    std::size_t at = i + 1;
    for (std::size_t k = i + 1; k < j; ++k) {
      const double distance = segment_distance(ring[k], ring[i], ring[j]);
      if (!std::isfinite(distance)) return false;
      if (distance > farthest) {
        farthest = distance;
        at = k;
      }
    }
    if (!(farthest > needed)) return false;
    for (std::size_t k = i + 1; k < j; ++k) {
      if (k == at) continue;
      const double distance = segment_distance(ring[k], ring[i], ring[j]);
      if (distance >= farthest * (1.0 - 1e-9)) return false;  // a near tie
    }
    sections.emplace_back(i, at);
    sections.emplace_back(at, j);
  }
  return true;
}

}  // namespace tarnwick::depthview::transform
