// The native scene's values: placements and their algebra, KLayout's binary forms, the
// simplification and the placement count.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>

#include "tarnwick/core/depthview/model/placement.hpp"
#include "tarnwick/core/depthview/read/klayout_bytes.hpp"
#include "tarnwick/core/depthview/transform/placement_count.hpp"
#include "tarnwick/core/depthview/transform/simplify.hpp"

using namespace tarnwick::depthview;
using model::Placement;

namespace {

// The placement applied to a point, straight from its definition: mirror at the x axis, rotate by
// the angle, magnify, displace.
std::array<double, 2> apply(const Placement& p, double x, double y) {
  const double a = p.angle_degrees() / 180.0 * std::numbers::pi;
  const double r = p.complex ? p.magnification() : 1.0;
  if (p.mirror()) y = -y;
  return {r * (std::cos(a) * x - std::sin(a) * y) + p.dx,
          r * (std::sin(a) * x + std::cos(a) * y) + p.dy};
}

Placement random_placement(std::mt19937& rng, bool complex) {
  std::uniform_int_distribution<int> rotation(0, 3), coin(0, 1), disp(-500, 500);
  if (!complex) return Placement::simple(rotation(rng), coin(rng) == 1, disp(rng), disp(rng));
  std::uniform_real_distribution<double> angle(0.0, 360.0), mag(0.25, 4.0);
  const double a = angle(rng) * std::numbers::pi / 180.0;
  const double m = mag(rng) * (coin(rng) ? -1.0 : 1.0);
  return Placement::complex_from(std::sin(a), std::cos(a), m, disp(rng), disp(rng));
}

}  // namespace

TEST(Placement, ProductsApplyTheChildFirst) {
  std::mt19937 rng(3);
  for (int i = 0; i < 400; ++i) {
    const Placement p = random_placement(rng, i % 3 == 0);
    const Placement t = random_placement(rng, i % 5 == 0);
    const Placement pt = model::compose(p, t);
    EXPECT_EQ(pt.complex, p.complex || t.complex);
    for (auto [x, y] : {std::array<double, 2>{1, 0}, {0, 1}, {7, -13}}) {
      const auto inner = apply(t, x, y);
      const auto expected = apply(p, inner[0], inner[1]);
      const auto got = apply(pt, x, y);
      EXPECT_NEAR(got[0], expected[0], 1e-6);
      EXPECT_NEAR(got[1], expected[1], 1e-6);
    }
  }
}

TEST(Placement, SimpleProductsStayExact) {
  // Every pair of the eight orientations: the product is simple, with whole-number values.
  for (int pr = 0; pr < 8; ++pr) {
    for (int tr = 0; tr < 8; ++tr) {
      const Placement pt = model::compose(Placement::simple(pr & 3, pr >= 4, 17, -5),
                                          Placement::simple(tr & 3, tr >= 4, -3, 11));
      EXPECT_FALSE(pt.complex);
      EXPECT_EQ(pt.dx, std::round(pt.dx));
      EXPECT_EQ(std::fabs(pt.mag), 1.0);
      EXPECT_EQ(std::fabs(pt.sin) + std::fabs(pt.cos), 1.0);
    }
  }
  // KLayout's "m45": mirror at the x axis, then a quarter turn.
  const auto m45 = apply(Placement::simple(1, true, 0, 0), 1, 0);
  EXPECT_NEAR(m45[0], 0, 1e-12);
  EXPECT_NEAR(m45[1], 1, 1e-12);
}

TEST(Placement, MatrixRowsAndSigns) {
  const auto identity = Placement::simple(0, false, 100, 200).matrix();
  EXPECT_EQ(identity, (std::array<double, 6>{1.0, -0.0, 100.0, 0.0, 1.0, 200.0}));
  EXPECT_TRUE(std::signbit(identity[1]));
  const auto quarter = Placement::simple(1, false, 0, 0).matrix();
  EXPECT_EQ(quarter[0], std::cos(std::numbers::pi / 2));
  EXPECT_NE(quarter[0], 0.0);
  EXPECT_EQ(quarter[1], -1.0);
  EXPECT_EQ(Placement::simple(0, true, 0, 0).matrix(),
            (std::array<double, 6>{1.0, 0.0, 0.0, 0.0, -1.0, 0.0}));
  // A complex one: magnification r on every term, displacement scaled to micrometres.
  const double s = std::sin(std::numbers::pi / 6), c = std::cos(std::numbers::pi / 6);
  const auto m = Placement::complex_from(s, c, -2.0, 3000, 4000).matrix(1000.0);
  EXPECT_NEAR(m[0], 2 * c, 1e-12);
  EXPECT_NEAR(m[1], 2 * s, 1e-12);
  EXPECT_NEAR(m[3], 2 * s, 1e-12);
  EXPECT_NEAR(m[4], -2 * c, 1e-12);
  EXPECT_EQ(m[2], 3.0);
  EXPECT_EQ(m[5], 4.0);
}

TEST(Placement, ArraysRunTheFirstVectorFastest) {
  model::CellInstancePlacements array;
  array.base = Placement::simple(1, false, 5, 7);
  array.na = 3;
  array.nb = 2;
  array.ax = 10;
  array.by = 100;
  std::vector<Placement> all;
  array.expand(all);
  ASSERT_EQ(all.size(), array.count());
  EXPECT_EQ(all[1].dx, 15);
  EXPECT_EQ(all[3].dy, 107);
  EXPECT_EQ(all[5].rotation(), 1);
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

TEST(KLayoutBytes, HullOfAPolygonWithAHoleAndRefusedForms) {
  std::vector<std::int64_t> hull{42};
  ASSERT_TRUE(read::decode_polygon_hull(
      polygon_bytes({{{1000, -7}, {0, 0}, {0, 1000}}, {{100, 100}, {200, 100}, {200, 200}}}),
      hull));
  EXPECT_EQ(hull, (std::vector<std::int64_t>{42, 1000, -7, 0, 0, 0, 1000}));
  std::string bytes = polygon_bytes({{{0, 0}, {1, 0}, {1, 1}}});
  EXPECT_FALSE(read::decode_polygon_hull(bytes.substr(0, bytes.size() - 1), hull));
  EXPECT_FALSE(read::decode_polygon_hull(bytes + "x", hull));
  std::string huge = polygon_bytes({{{0, 0}}});
  const std::uint64_t count = ~0ull;
  std::memcpy(huge.data() + 10, &count, 8);
  EXPECT_FALSE(read::decode_polygon_hull(huge, hull));
  EXPECT_EQ(hull.size(), 7u);  // unchanged by the refusals
}

TEST(Simplifier, KeptIndicesMatchGeosWithAndWithoutTheFastPath) {
  // Boxes, stars and circles at tolerances around their features: the fast path never changes
  // GEOS's answer.
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  transform::Simplifier fast, reference;
  reference.set_fast_path(false);
  std::vector<std::uint32_t> a, b;
  for (int i = 0; i < 3000; ++i) {
    transform::Ring ring;
    const int n = 3 + i % 40;
    const double scale = std::pow(10.0, unit(rng) * 4 - 3);
    const double wobble = i % 2 ? 0.0 : 0.5;
    for (int k = 0; k < n; ++k) {
      const double a_k = 2 * std::numbers::pi * k / n;
      const double r = scale * (1 + wobble * unit(rng));
      ring.push_back({std::round(1000 * r * std::cos(a_k)) / 1000,
                      std::round(1000 * r * std::sin(a_k)) / 1000});
    }
    for (const double tolerance : {0.0, 0.001, 0.01, 0.05}) {
      bool failed_fast = false, failed_reference = false;
      try {
        fast.simplify(ring, tolerance, a);
      } catch (const transform::SimplifyError&) {
        failed_fast = true;
      }
      try {
        reference.simplify(ring, tolerance, b);
      } catch (const transform::SimplifyError&) {
        failed_reference = true;
      }
      ASSERT_EQ(failed_fast, failed_reference);
      if (failed_fast) continue;
      // The same points (a ring may repeat a point, so indices may differ for equal points).
      ASSERT_EQ(a.size(), b.size()) << i << " " << tolerance;
      for (std::size_t k = 0; k < a.size(); ++k) {
        ASSERT_EQ(fast.shell()[a[k]], reference.shell()[b[k]]) << i << " " << tolerance;
      }
    }
  }
}

TEST(Simplifier, DropsNearlyCollinearPointsAndFails) {
  transform::Simplifier simplifier;
  std::vector<std::uint32_t> kept;
  simplifier.simplify({{0, 0}, {0.5, 0.001}, {1, 0}, {1, 1}, {0, 1}}, 0.01, kept);
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{0, 2, 3, 4, 5}));  // closed: index 5 is the start
  EXPECT_THROW(simplifier.simplify({{0, 0}, {1, 0}}, 0.01, kept), transform::SimplifyError);
  EXPECT_THROW(simplifier.simplify({}, 0.01, kept), transform::SimplifyError);
  EXPECT_THROW(simplifier.simplify({{0, 0}, {NAN, 0}, {1, 1}}, 0.01, kept), std::invalid_argument);
}

TEST(PlacementCount, CountsEveryPathAndSaturates) {
  // top places a twice; a places b as a 3 x 1 array: 2 + 2·3 placements.
  model::CellGraph graph;
  graph.tops = {0};
  auto& top = graph.cells[0];
  top.cell_instances = {{1, {}}, {1, {}}};
  auto& a = graph.cells[1];
  a.index = 1;
  model::CellInstancePlacements array;
  array.na = 3;
  a.cell_instances = {{2, array}};
  graph.cells[2].index = 2;
  EXPECT_EQ(transform::count_placements(graph), 8u);
  EXPECT_THROW(transform::check_placement_limit(graph, 7), transform::TooManyPlacements);
  EXPECT_NO_THROW(transform::check_placement_limit(graph, 8));
  // A chain of 80 cells each placing the next twice: 2^81 - 2, beyond 64 bits.
  model::CellGraph chain;
  chain.tops = {0};
  for (std::int64_t c = 0; c < 80; ++c) {
    chain.cells[c].index = c;
    chain.cells[c].cell_instances = {{c + 1, {}}, {c + 1, {}}};
  }
  chain.cells[80].index = 80;
  EXPECT_EQ(transform::count_placements(chain), ~0ull);
}
