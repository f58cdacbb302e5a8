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

// The turn at q of the path p -> q -> r when plain double arithmetic is sure of it (the
// determinant clear of its rounding error): 1 left, -1 right, 0 when straight or unsure.
int sure_turn(const Point& p, const Point& q, const Point& r) {
  const double left = (p[0] - r[0]) * (q[1] - r[1]);
  const double right = (p[1] - r[1]) * (q[0] - r[0]);
  const double det = left - right;
  const double bound = 1e-15 * (std::fabs(left) + std::fabs(right));
  return det > bound ? 1 : det < -bound ? -1 : 0;
}

// Whether the edge directions of the closed ring go round once: their x and y components each
// change sign at most twice (zero components skipped). With every turn the same way, the ring is
// then convex.
bool turns_round_once(std::span<const Point> ring) {
  for (const int axis : {0, 1}) {
    int changes = 0;
    double first = 0.0, previous = 0.0;
    for (std::size_t k = 0; k + 1 < ring.size(); ++k) {
      const double d = ring[k + 1][axis] - ring[k][axis];
      if (d == 0.0) continue;
      if (first == 0.0) first = d;
      changes += previous != 0.0 && (d > 0.0) != (previous > 0.0);
      previous = d;
    }
    changes += first != 0.0 && (first > 0.0) != (previous > 0.0);
    if (changes > 2) return false;
  }
  return true;
}

// Whether the closed ring surely bounds a strictly convex polygon: every turn surely the same way,
// going round once. Then no segment between two of its points meets another such segment or an
// edge but at shared end points, so the simplification never finds a bad intersection and needs
// no segment index.
bool surely_strictly_convex(std::span<const Point> ring) {
  const std::size_t n = ring.size() - 1;  // distinct points; ring[n] == ring[0]
  if (n < 3) return false;
  int turn = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const int t = sure_turn(ring[k], ring[k + 1], ring[k + 2 <= n ? k + 2 : 1]);
    if (t == 0 || (turn != 0 && t != turn)) return false;
    turn = t;
  }
  return turns_round_once(ring);
}

// Whether the simplification surely keeps every point of the ring. A section is flattened only
// when all its points lie within the tolerance of the segment joining its ends, so any three
// consecutive points of it lie in a strip twice the tolerance wide (once the tolerance where the
// ring is convex: then they all lie on one side), and so does their triangle: its smallest
// altitude is at most that width. Where every such triangle of the ring is clearly taller, no
// section is ever flattened, whatever order the sections come in. `magnitude` is the largest
// coordinate magnitude; the margin covers the rounding of GEOS's distances (a few units in the
// last place of the coordinates) and of the test itself, and makes the turns' signs sure.
bool keeps_every_point(std::span<const Point> ring, double tolerance, double magnitude) {
  if (!(magnitude >= 0x1p-100 && magnitude <= 0x1p100)) return false;
  const double guard = tolerance + magnitude * 0x1p-40;
  const double limit = guard * guard * (1.0 + 0x1p-20);  // the smallest altitude, squared
  const std::size_t last = ring.size() - 1;
  bool wide = true;  // every triangle taller than twice the guard
  int turn = 0;      // the way every triangle turns, 0 once they differ
  // Each inner point with its neighbours, then the closing point with its own (a triangle that
  // no section holds, but one that convexity needs).
  for (std::size_t k = 1; k <= last; ++k) {
    const Point& p = ring[k - 1];
    const Point& q = ring[k];
    const Point& r = ring[k < last ? k + 1 : 1];
    const double ux = q[0] - p[0], uy = q[1] - p[1];
    const double vx = r[0] - q[0], vy = r[1] - q[1];
    const double wx = r[0] - p[0], wy = r[1] - p[1];
    const double area2 = ux * vy - uy * vx;  // twice the triangle's area
    const double longest2 = std::max({ux * ux + uy * uy, vx * vx + vy * vy, wx * wx + wy * wy});
    const double tall2 = area2 * area2;  // (smallest altitude * longest side)^2
    const bool tall = tall2 > limit * longest2;
    if (k < last && !tall) return false;
    wide = wide && (k == last || tall2 > 4.0 * limit * longest2);
    const int way = !tall ? 0 : area2 > 0.0 ? 1 : -1;
    turn = k == 1 ? way : (way == turn ? turn : 0);
  }
  return wide || (turn != 0 && turns_round_once(ring));
}

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
  double magnitude = 0.0;
  for (const Point& point : ring) {
    if (!std::isfinite(point[0]) || !std::isfinite(point[1])) return RingRefusal::invalid_input;
    magnitude = std::max({magnitude, std::fabs(point[0]), std::fabs(point[1])});
  }
  if (magnitude > kMaxMagnitude) return RingRefusal::huge_coordinates;

  const auto last = static_cast<std::uint32_t>(size - 1);
  if (keeps_every_point(ring, tolerance, magnitude)) {
    for (std::uint32_t k = 0; k <= last; ++k) kept.push_back(k);
    return RingRefusal::none;
  }
  const bool convex = surely_strictly_convex(ring);
  if (!convex) {
    input_.assign(last, [&](std::uint32_t k) { return SegmentBox::of(ring[k], ring[k + 1]); });
    QuadtreePadding input_padding;
    for (std::uint32_t k = 0; k < last; ++k) {
      if (!input_padding.insert(input_.box(k))) return RingRefusal::index_padding;
    }
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

    if (flatten && (convex || !has_bad_intersection(ring, i, j))) {
      if (!convex) {
        for (std::uint32_t k = i; k < j; ++k) input_.remove(k);
        const SegmentBox box = SegmentBox::of(a, b);
        if (!output_padding.insert(box)) return kept.clear(), RingRefusal::index_padding;
        output_.append(box);
        output_start_.push_back(i);
        output_end_.push_back(j);
      }
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
