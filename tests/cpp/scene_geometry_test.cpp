// The scene parser's plain C++ geometry: transform algebra, KLayout's binary polygon form and the
// GEOS simplification.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "tarnwick/core/depthview/polygon_bytes.hpp"
#include "tarnwick/core/depthview/simple_trans.hpp"
#include "tarnwick/core/depthview/simplify.hpp"

using namespace tarnwick::depthview;

TEST(SimpleTrans, ComposeAppliesTheChildFirst) {
  // Every pair of the eight orientations, with displacements: (p × t)(v) == p(t(v)).
  for (int pr = 0; pr < 8; ++pr) {
    for (int tr = 0; tr < 8; ++tr) {
      const SimpleTrans p{pr & 3, pr >= 4, 17, -5};
      const SimpleTrans t{tr & 3, tr >= 4, -3, 11};
      const SimpleTrans pt = compose(p, t);
      for (auto [x, y] : {std::array<std::int64_t, 2>{1, 0}, {0, 1}, {7, -13}}) {
        const auto inner = t.apply(x, y);
        EXPECT_EQ(pt.apply(x, y), p.apply(inner[0], inner[1])) << pr << " " << tr;
      }
    }
  }
}

TEST(SimpleTrans, MirrorIsAtTheXAxisBeforeTheRotation) {
  const SimpleTrans m45{1, true, 0, 0};  // KLayout's "m45"
  EXPECT_EQ(m45.apply(1, 0), (std::array<std::int64_t, 2>{0, 1}));
  EXPECT_EQ(m45.apply(0, 1), (std::array<std::int64_t, 2>{1, 0}));
}

TEST(PlacementMatrix, RowsAndSigns) {
  const auto identity = placement_matrix(0, false, 100, 200);
  EXPECT_EQ(identity, (std::array<double, 6>{1.0, -0.0, 100.0, 0.0, 1.0, 200.0}));
  EXPECT_TRUE(std::signbit(identity[1]));
  const auto quarter = placement_matrix(90, false, 0, 0);
  EXPECT_EQ(quarter[0], std::cos(std::numbers::pi / 2));
  EXPECT_NE(quarter[0], 0.0);
  EXPECT_EQ(quarter[1], -1.0);
  EXPECT_EQ(quarter[3], 1.0);
  EXPECT_EQ(placement_matrix(0, true, 0, 0),
            (std::array<double, 6>{1.0, 0.0, 0.0, 0.0, -1.0, 0.0}));
}

namespace {
std::string polygon_bytes(const std::vector<std::vector<std::array<std::int64_t, 2>>>& contours) {
  std::string bytes{'\x01', '\x00'};
  auto put = [&](std::uint64_t value) { bytes.append(reinterpret_cast<const char*>(&value), 8); };
  put(contours.size());
  for (const auto& contour : contours) {
    put(contour.size());
    for (auto [x, y] : contour) {
      put(static_cast<std::uint64_t>(x));
      put(static_cast<std::uint64_t>(y));
    }
  }
  return bytes;
}
}  // namespace

TEST(PolygonBytes, HullOfAPolygonWithAHole) {
  const std::string bytes = polygon_bytes(
      {{{1000, -7}, {0, 0}, {0, 1000}, {1000, 1000}}, {{100, 100}, {200, 100}, {200, 200}}});
  Hull hull;
  ASSERT_TRUE(decode_polygon_bytes(bytes.data(), bytes.size(), hull));
  EXPECT_EQ(hull, (Hull{{1000, -7}, {0, 0}, {0, 1000}, {1000, 1000}}));
}

TEST(PolygonBytes, RefusesOtherForms) {
  Hull hull;
  std::string bytes = polygon_bytes({{{0, 0}, {1, 0}, {1, 1}}});
  EXPECT_FALSE(decode_polygon_bytes(bytes.data(), bytes.size() - 1, hull));  // truncated
  std::string longer = bytes + "x";
  EXPECT_FALSE(decode_polygon_bytes(longer.data(), longer.size(), hull));  // trailing bytes
  bytes[0] = 2;
  EXPECT_FALSE(decode_polygon_bytes(bytes.data(), bytes.size(), hull));  // another version
  std::string huge = polygon_bytes({{{0, 0}}});
  const std::uint64_t count = ~0ull;
  std::memcpy(huge.data() + 10, &count, 8);
  EXPECT_FALSE(decode_polygon_bytes(huge.data(), huge.size(), hull));  // impossible count
}

TEST(Simplifier, KeepsAValidRingAndDropsNearlyCollinearPoints) {
  Simplifier simplifier;
  const Ring square{{0, 0}, {0.5, 0.001}, {1, 0}, {1, 1}, {0, 1}};
  const Ring ring = simplifier.simplify(square, 0.01);
  EXPECT_EQ(ring.front(), ring.back());  // closed
  EXPECT_EQ(ring.size(), 5u);            // the point 0.001 off the edge is gone
  const Ring kept = simplifier.simplify(square, 0.0001);
  EXPECT_EQ(kept.size(), 6u);
}

TEST(Simplifier, Failures) {
  Simplifier simplifier;
  try {
    simplifier.simplify({{0, 0}, {1, 0}}, 0.01);
    FAIL();
  } catch (const SimplifyError& error) {
    EXPECT_EQ(error.kind, SimplifyError::Kind::invalid_ring);
  }
  try {
    simplifier.simplify({}, 0.01);
    FAIL();
  } catch (const SimplifyError& error) {
    EXPECT_EQ(error.kind, SimplifyError::Kind::empty);
  }
}
