#include "tarnwick/core/depthview/transform/ring_simplify.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "tarnwick/core/depthview/transform/interior_intersection.hpp"

// Results equal GEOS's only when both do each double operation as written, rounded to double:
// x86-64 (SSE2, no extended precision), the linked GEOS built without fused multiply-add, and this
// file compiled without contraction. A build that enables FMA instructions must say it turned
// contraction off.
#if defined(__x86_64__) && FLT_EVAL_METHOD == 0 && \
    (!defined(__FMA__) || defined(TARNWICK_FP_CONTRACT_OFF))
#define TARNWICK_RING_SIMPLIFY_EXACT 1
#else
#define TARNWICK_RING_SIMPLIFY_EXACT 0
#endif

namespace tarnwick::depthview::transform {

namespace {

static_assert(std::numeric_limits<double>::is_iec559);

using Point = std::array<double, 2>;

// Beyond this, squares of coordinate differences and the double-double products could overflow.
constexpr double kMaxMagnitude = 1e150;
// The minimum size GEOS keeps for a closed ring.
constexpr std::uint32_t kMinimumSize = 4;

double point_distance(const Point& p, const Point& q) {
  const double dx = p[0] - q[0];
  const double dy = p[1] - q[1];
  return std::sqrt(dx * dx + dy * dy);
}

// GEOS keeps the items of its segment quadtree in square nodes aligned to their power-of-two
// size, each containing the boxes of its items. It first widens a zero-width side [x, x] of a box
// to [x - m/2, (x - m/2) + m/2], m being the smallest non-zero extent inserted so far (1 at
// first). Rounding can leave that interval just below x; a node boundary between its top and x
// would then hide the segment from queries that touch it only at x. (Removal finds the segment
// whenever queries do.) This tracks m as GEOS does and tells whether such a boundary can exist.
struct QuadtreePadding {
  double min_extent = 1.0;

  // Inserts the box of one segment; false when the segment might be hidden.
  bool insert(const SegmentBox& box) {
    const double width = box.max_x - box.min_x;
    if (width < min_extent && width > 0.0) min_extent = width;
    const double height = box.max_y - box.min_y;
    if (height < min_extent && height > 0.0) min_extent = height;
    if (box.min_x != box.max_x && box.min_y != box.max_y) return true;

    const double half = min_extent / 2.0;
    double low_x = box.min_x, high_x = box.max_x, low_y = box.min_y, high_y = box.max_y;
    if (box.min_x == box.max_x) low_x = box.min_x - half, high_x = low_x + half;
    if (box.min_y == box.max_y) low_y = box.min_y - half, high_y = low_y + half;
    const bool short_x = high_x < box.max_x, short_y = high_y < box.max_y;
    if (!short_x && !short_y) return true;

    // Every node holding the widened box is at least as large as its larger side; half of that,
    // rounded down to a power of two, divides every such node's size.
    const double side = std::max(high_x - low_x, high_y - low_y);
    if (!(side > 0.0)) return false;
    int exponent = 0;
    std::frexp(side, &exponent);  // 2^(exponent - 1) <= side
    const double cell = std::ldexp(1.0, exponent - 2);
    auto boundary_below = [cell](double top, double x) {  // a multiple of cell in [top, x)?
      const double steps = std::ceil(top / cell);
      return !std::isfinite(steps) || steps * cell < x;
    };
    return !(short_x && boundary_below(high_x, box.max_x)) &&
           !(short_y && boundary_below(high_y, box.max_y));
  }
};

}  // namespace

std::string_view refusal_name(RingRefusal refusal) {
  switch (refusal) {
    case RingRefusal::none:
      return "none";
    case RingRefusal::invalid_input:
      return "invalid_input";
    case RingRefusal::huge_coordinates:
      return "huge_coordinates";
    case RingRefusal::index_padding:
      return "index_padding";
    case RingRefusal::degenerate:
      return "degenerate";
    case RingRefusal::short_result:
      return "short_result";
    case RingRefusal::unsupported_platform:
      return "unsupported_platform";
  }
  return "unknown";
}

bool matches_geos_version(std::string_view geos_version) {
  constexpr std::string_view checked = "3.11.1";
  return geos_version.substr(0, checked.size()) == checked &&
         (geos_version.size() == checked.size() || geos_version[checked.size()] == '-');
}

bool RingSimplifier::has_bad_intersection(std::span<const Point> ring, std::uint32_t i,
                                          std::uint32_t j) const {
  const Point& a = ring[i];
  const Point& b = ring[j];
  const SegmentBox box = SegmentBox::of(a, b);
  // Against the flattened segments so far, then against the original segments still standing
  // outside the section.
  if (output_.any(box, 0, 0, [&](std::uint32_t k) {
        return has_interior_intersection(ring[output_start_[k]], ring[output_end_[k]], a, b);
      })) {
    return true;
  }
  return input_.any(box, i, j, [&](std::uint32_t k) {
    return has_interior_intersection(ring[k], ring[k + 1], a, b);
  });
}

RingRefusal RingSimplifier::simplify(std::span<const Point> ring, double tolerance,
                                     std::vector<std::uint32_t>& kept) {
  kept.clear();
  if (!TARNWICK_RING_SIMPLIFY_EXACT) return RingRefusal::unsupported_platform;
  const std::size_t size = ring.size();
  if (size < kMinimumSize || size > (std::size_t{1} << 31) || !(tolerance >= 0.0) ||
      ring.front() != ring.back()) {
    return RingRefusal::invalid_input;
  }
  bool huge = false;
  for (const Point& point : ring) {
    if (!std::isfinite(point[0]) || !std::isfinite(point[1])) return RingRefusal::invalid_input;
    huge = huge || std::fabs(point[0]) > kMaxMagnitude || std::fabs(point[1]) > kMaxMagnitude;
  }
  if (huge) return RingRefusal::huge_coordinates;

  const auto last = static_cast<std::uint32_t>(size - 1);
  input_.assign(last, [&](std::uint32_t k) { return SegmentBox::of(ring[k], ring[k + 1]); });
  QuadtreePadding input_padding;
  for (std::uint32_t k = 0; k < last; ++k) {
    if (!input_padding.insert(input_.box(k))) return RingRefusal::index_padding;
  }
  output_.reset();
  output_start_.clear();
  output_end_.clear();
  QuadtreePadding output_padding;

  // Depth-first, first half first, as GEOS recurses; `kept` collects the start of every result
  // segment in order.
  sections_.clear();
  sections_.push_back({0, last, 0});
  while (!sections_.empty()) {
    const auto [i, j, parent_depth] = sections_.back();
    sections_.pop_back();
    const std::uint32_t depth = parent_depth + 1;
    if (i + 1 == j) {
      kept.push_back(i);
      continue;
    }

    // Flattening could leave too few points: GEOS refuses it while the result is short and the
    // depth gives no room for enough further points.
    const std::size_t result_size = kept.empty() ? 0 : kept.size() + 1;
    bool flatten = result_size >= kMinimumSize || depth + 1 >= kMinimumSize;

    // The farthest point from segment i-j, the first of equal ones (GEOS's point-to-segment
    // distance, operation for operation).
    const Point& a = ring[i];
    const Point& b = ring[j];
    double farthest = -1.0;
    std::uint32_t at = i;
    if (a == b) {
      for (std::uint32_t k = i + 1; k < j; ++k) {
        const double distance = point_distance(ring[k], a);
        if (distance > farthest) farthest = distance, at = k;
      }
    } else {
      const double dx = b[0] - a[0];
      const double dy = b[1] - a[1];
      const double length2 = dx * dx + dy * dy;
      const double length = std::sqrt(length2);
      for (std::uint32_t k = i + 1; k < j; ++k) {
        const Point& p = ring[k];
        const double r = ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / length2;
        double distance;
        if (r <= 0.0) {
          distance = point_distance(p, a);
        } else if (r >= 1.0) {
          distance = point_distance(p, b);
        } else {
          const double s = ((a[1] - p[1]) * dx - (a[0] - p[0]) * dy) / length2;
          distance = std::fabs(s) * length;
        }
        if (distance > farthest) farthest = distance, at = k;
      }
    }
    if (at == i) return kept.clear(), RingRefusal::degenerate;
    if (farthest > tolerance) flatten = false;

    if (flatten && !has_bad_intersection(ring, i, j)) {
      for (std::uint32_t k = i; k < j; ++k) input_.remove(k);
      const SegmentBox box = SegmentBox::of(a, b);
      if (!output_padding.insert(box)) return kept.clear(), RingRefusal::index_padding;
      output_.append(box);
      output_start_.push_back(i);
      output_end_.push_back(j);
      kept.push_back(i);
      continue;
    }
    sections_.push_back({at, j, depth});
    sections_.push_back({i, at, depth});
  }
  kept.push_back(last);
  if (kept.size() < kMinimumSize) return kept.clear(), RingRefusal::short_result;
  return RingRefusal::none;
}

bool simplify_ring(std::span<const std::array<double, 2>> ring, double tolerance,
                   std::vector<std::uint32_t>& kept) {
  thread_local RingSimplifier simplifier;
  return simplifier.simplify(ring, tolerance, kept) == RingRefusal::none;
}

}  // namespace tarnwick::depthview::transform
