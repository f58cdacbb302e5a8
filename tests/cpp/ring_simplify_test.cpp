// Native topology-preserving ring simplification against GEOS: a slice of the seeded differential
// run (the full run is bench/bench_simplify.py), a flattening that topology forbids, and the rings
// the native path leaves to GEOS.
#include <geos_c.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>

#include "ring_differential.hpp"
#include "tarnwick/core/depthview/transform/orientation_index.hpp"

using namespace tarnwick::testing;
using tarnwick::depthview::transform::matches_geos_version;
using tarnwick::depthview::transform::RingSimplifier;
using tarnwick::depthview::transform::simplify_ring;
using Point2 = std::array<double, 2>;
using Ring = std::vector<std::array<double, 2>>;

TEST(RingSimplify, DecidesOnlyForTheGeosItWasCheckedAgainst) {
  EXPECT_TRUE(matches_geos_version(GEOSversion())) << "re-check against " << GEOSversion();
  EXPECT_TRUE(matches_geos_version("3.11.1"));
  EXPECT_FALSE(matches_geos_version("3.11.10-CAPI-1.17.1"));
  EXPECT_FALSE(matches_geos_version("3.12.1-CAPI-1.18.1"));
  EXPECT_FALSE(matches_geos_version("3.11"));
}

TEST(RingSimplify, EqualsGeosOnGeneratedRings) {
  // The first rings of the seed the full run uses; every answer must be GEOS's, point for point,
  // and the native path must answer nearly always (all layout-like rings).
  constexpr std::uint64_t kRings = 20000;
  const std::set<std::string_view> layout_like{"circle", "arc_band", "rounded_rectangle", "taper",
                                               "manhattan"};
  RingDifferential differential;
  GeneratedRing ring;
  std::uint64_t refused = 0, mismatches = 0;
  std::map<std::string_view, std::uint64_t> refused_layout_like;
  for (std::uint64_t index = 0; index < kRings; ++index) {
    generate_ring(1, index, ring);
    const RingComparison outcome = differential.compare(ring);
    ASSERT_TRUE(outcome.geos_ok) << "ring " << index << ": " << differential.geos.error();
    if (outcome.refusal != RingRefusal::none) {
      ++refused;
      if (layout_like.count(ring.kind)) ++refused_layout_like[ring.kind];
    }
    if (outcome.mismatch && ++mismatches <= 3) {
      ADD_FAILURE() << "ring " << index << " differs from GEOS\n"
                    << describe(ring, differential.kept, differential.geos_result);
    }
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_LT(refused, kRings / 500) << "the native path refuses too often";
  EXPECT_TRUE(refused_layout_like.empty()) << refused_layout_like.begin()->first;
}

TEST(RingSimplify, OrientationEqualsGeosNearCollinearPoints) {
  // Points on lines through decimal (1 nm grid) or arbitrary coordinates, a few ulps off the line
  // or not: where GEOS's double filter gives up and its double-double sign decides.
  std::mt19937_64 bits(12);
  auto uniform = [&](double low, double high) {
    return low + (high - low) * static_cast<double>(bits() >> 11) * 0x1p-53;
  };
  auto nudge = [&](double value) {
    for (int k = static_cast<int>(bits() % 5) - 2; k != 0; k += k < 0 ? 1 : -1) {
      value = std::nextafter(value, k < 0 ? -INFINITY : INFINITY);
    }
    return value;
  };
  GEOSContextHandle_t context = GEOS_init_r();
  int mismatches = 0, collinear = 0;
  for (int n = 0; n < 200000; ++n) {
    const bool grid = n % 2 == 0;
    const double scale = std::pow(10.0, uniform(-3, 6));
    auto coordinate = [&](double value) { return grid ? std::round(value * 1000) / 1000 : value; };
    const double x = uniform(-1, 1) * scale, y = uniform(-1, 1) * scale;
    const double dx = coordinate(uniform(-1, 1) * scale), dy = coordinate(uniform(-1, 1) * scale);
    const double s = std::round(uniform(-5, 5)), t = std::round(uniform(-5, 5));
    const Point2 p1{coordinate(x), coordinate(y)};
    const Point2 p2{coordinate(x + s * dx), coordinate(y + s * dy)};
    const Point2 q{nudge(coordinate(x + t * dx)), nudge(coordinate(y + t * dy))};
    const int native = tarnwick::depthview::transform::orientation_index(p1, p2, q);
    const int geos = GEOSOrientationIndex_r(context, p1[0], p1[1], p2[0], p2[1], q[0], q[1]);
    if (native == 0) ++collinear;
    if (native != geos && ++mismatches <= 3) {
      ADD_FAILURE() << native << " != " << geos << " for (" << p1[0] << ", " << p1[1] << ") ("
                    << p2[0] << ", " << p2[1] << ") (" << q[0] << ", " << q[1] << ")";
    }
  }
  GEOS_finish_r(context);
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(collinear, 20000);  // the cases are near the line, not merely random
}

TEST(RingSimplify, KeepsAPointWhoseRemovalWouldCrossTheRing) {
  // The bottom edge bulges by 0.006 (within the tolerance 0.01) over a finger of the same ring
  // that reaches up to y = `tip`. Flattening the bulge is allowed only while the straight edge
  // passes above the finger.
  auto hook = [](double tip) {
    return Ring{{0, 0},    {2, 0.006}, {4, 0},      {4, 1},       {-1, 1},   {-1, -1},
                {2.1, -1}, {2.0, tip}, {1.9, -0.5}, {-0.5, -0.5}, {-0.5, 0}, {0, 0}};
  };
  GeosRingSimplifier geos;
  std::vector<std::uint32_t> kept;
  Ring expected;
  for (const auto& [tip, keeps_bulge] : {std::pair{0.002, true}, std::pair{-0.002, false}}) {
    const Ring ring = hook(tip);
    ASSERT_TRUE(simplify_ring(ring, 0.01, kept)) << tip;
    ASSERT_TRUE(geos.simplify(ring, 0.01, expected));
    EXPECT_TRUE(same_points(ring, kept, expected)) << tip;
    EXPECT_EQ(std::find(kept.begin(), kept.end(), 1u) != kept.end(), keeps_bulge) << tip;
  }
}

TEST(RingSimplify, LeavesToGeosWhatItCannotVouchFor) {
  RingSimplifier simplifier;
  std::vector<std::uint32_t> kept{7};
  const Ring square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto refusal = [&](const Ring& ring, double tolerance) {
    return simplifier.simplify(ring, tolerance, kept);
  };
  EXPECT_EQ(refusal(square, 0.01), RingRefusal::none);
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));

  EXPECT_EQ(refusal(Ring(square.begin(), square.begin() + 3), 0.01), RingRefusal::invalid_input);
  EXPECT_TRUE(kept.empty());
  EXPECT_EQ(refusal(Ring(square.begin(), square.end() - 1), 0.01), RingRefusal::invalid_input);
  EXPECT_EQ(refusal(square, -1.0), RingRefusal::invalid_input);
  EXPECT_EQ(refusal(square, nan), RingRefusal::invalid_input);
  EXPECT_EQ(refusal({{0, 0}, {1, nan}, {1, 1}, {0, 0}}, 0.01), RingRefusal::invalid_input);
  EXPECT_EQ(refusal({{0, 0}, {1e200, 0}, {1, 1}, {0, 0}}, 0.01), RingRefusal::huge_coordinates);

  // A vertical first segment one ulp right of 0.109375 = 7/64: GEOS's quadtree pads its box to
  // end at 7/64 exactly, a possible node boundary, so a query touching only x could miss it.
  // (A point nearly on the top edge, pulled in, makes the ring one whose simplification queries.)
  const double x = std::nextafter(0.109375, 1.0);
  EXPECT_EQ(refusal({{x, 0}, {x, 0.05}, {0.5, 0.05}, {0.7, 0.0495}, {1, 0.05}, {1, 0}, {x, 0}},
                    0.01),
            RingRefusal::index_padding);
  EXPECT_EQ(refusal({{0.109375, 0}, {0.109375, 0.05}, {0.5, 0.05}, {0.7, 0.0495}, {1, 0.05},
                     {1, 0}, {0.109375, 0}},
                    0.01),
            RingRefusal::none);
  // Where no section can be flattened (every three points well over the tolerance apart, or
  // a convex ring) nothing is queried: the same segment is no reason to refuse.
  EXPECT_EQ(refusal({{x, 0}, {x, 0.05}, {1, 0.05}, {1, 0}, {x, 0}}, 0.01), RingRefusal::none);
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
}
