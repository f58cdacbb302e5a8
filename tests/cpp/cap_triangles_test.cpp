#include "tarnwick/core/depthview/write/cap_triangles.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

using tarnwick::depthview::write::clean_ring;
using tarnwick::depthview::write::RingPoint;
using tarnwick::depthview::write::triangulate_ring;

namespace {

using Coordinates = std::vector<std::int32_t>;

std::int64_t twice_area(const std::vector<RingPoint>& ring) {
  std::int64_t area = 0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const RingPoint& p = ring[i];
    const RingPoint& q = ring[(i + 1) % ring.size()];
    area += p.x * q.y - q.x * p.y;
  }
  return area;
}

bool inside(const std::vector<RingPoint>& ring, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const double xi = ring[i].x, yi = ring[i].y, xj = ring[j].x, yj = ring[j].y;
    if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
  }
  return in;
}

// Cuts `coordinates` and checks the cut: n - 2 triangles, none turning right, together exactly as
// large as the ring, each with its centre inside the ring (so none lies outside or over a hole).
// The cleaned ring.
std::vector<RingPoint> check_cut(const Coordinates& coordinates) {
  std::vector<RingPoint> ring = clean_ring(coordinates);
  std::vector<std::uint32_t> triangles;
  triangulate_ring(ring, triangles);
  EXPECT_EQ(triangles.size(), 3 * (ring.size() - 2));
  std::int64_t total = 0;
  for (std::size_t t = 0; t < triangles.size(); t += 3) {
    const RingPoint &a = ring[triangles[t]], &b = ring[triangles[t + 1]],
                    &c = ring[triangles[t + 2]];
    const std::int64_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    EXPECT_GE(area, 0);
    total += area;
    if (area > 0) {
      EXPECT_TRUE(inside(ring, (a.x + b.x + c.x) / 3.0, (a.y + b.y + c.y) / 3.0))
          << "triangle " << t / 3 << " lies outside the ring";
    }
  }
  EXPECT_EQ(total, twice_area(ring));
  return ring;
}

TEST(CapTriangles, RepeatedCollinearAndSpikePointsGoAndRingsTurnAnticlockwise) {
  // A 10 x 10 square, clockwise, with a repeated corner, a point halfway along an edge and a
  // spike of no width: four corners are left, anticlockwise.
  const auto ring = check_cut({0, 0, 0, 10, 0, 10, 10, 10, 10, 5, 14, 5, 10, 5, 10, 0, 5, 0});
  ASSERT_EQ(ring.size(), 4u);
  EXPECT_EQ(twice_area(ring), 200);
  // Nothing with an area: too few points, all on one line, or a ring folded onto itself.
  EXPECT_TRUE(clean_ring(Coordinates{0, 0, 5, 5}).empty());
  EXPECT_TRUE(clean_ring(Coordinates{0, 0, 5, 5, 10, 10, 20, 20}).empty());
  EXPECT_TRUE(clean_ring(Coordinates{0, 0, 10, 0, 10, 10, 10, 0}).empty());
}

TEST(CapTriangles, NonConvexRingsAndRingsAroundAHole) {
  // A comb: teeth that ear clipping must not bridge.
  check_cut(
      {0, 0, 50, 0, 50, 30, 40, 30, 40, 5, 30, 5, 30, 30, 20, 30, 20, 5, 10, 5, 10, 30, 0, 30});
  // A spiral arm.
  check_cut({0,  0,  30, 0,  30, 30, 5,  30, 5,  10, 20, 10, 20, 20,
             15, 20, 15, 15, 10, 15, 10, 25, 25, 25, 25, 5,  0,  5});
  // A square with a square hole, joined to the outside along a cut that runs both ways: the
  // points at the ends of the cut appear twice.
  const auto ring = check_cut({0,  0,  100, 0,  100, 100, 0,  100, 0,  50, 30, 50,
                               30, 70, 70,  70, 70,  30,  30, 30,  30, 50, 0,  50});
  EXPECT_EQ(twice_area(ring), 2 * (100 * 100 - 40 * 40));
}

TEST(CapTriangles, RandomStarShapedRings) {
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    // Points in angular order around the origin, no gap as wide as half a turn: the origin sees
    // every edge, so the ring is simple; its radii make it anything but convex.
    const int n = 4 + static_cast<int>(random() % 60);
    std::vector<double> angles(n);
    std::uniform_real_distribution<double> jitter(0, 0.9), radius(1e4, 1e5);
    for (int i = 0; i < n; ++i) angles[i] = 2 * std::numbers::pi * (i + jitter(random)) / n;
    Coordinates coordinates;
    for (const double a : angles) {
      const double r = radius(random);
      coordinates.push_back(static_cast<std::int32_t>(std::lround(r * std::cos(a))));
      coordinates.push_back(static_cast<std::int32_t>(std::lround(r * std::sin(a))));
    }
    if (round % 2 == 1) {  // clockwise, too
      std::vector<std::int32_t> reversed;
      for (std::size_t k = coordinates.size(); k >= 2; k -= 2) {
        reversed.push_back(coordinates[k - 2]);
        reversed.push_back(coordinates[k - 1]);
      }
      coordinates = reversed;
    }
    if (clean_ring(coordinates).size() >= 3) check_cut(coordinates);
  }
}

TEST(CapTriangles, ExtremeCoordinatesAndACrossingRingStillEnd) {
  const std::int32_t big = 2'000'000'000;
  check_cut({-big, -big, big, -big, big, big, 0, 0, -big, big});
  // A figure eight crosses itself: no exact cut exists, but the cut ends with n - 2 triangles.
  const std::vector<RingPoint> ring =
      clean_ring(Coordinates{0, 0, 10, 10, 20, 0, 20, 20, 10, 11, 0, 20});
  std::vector<std::uint32_t> triangles;
  triangulate_ring(ring, triangles);
  EXPECT_EQ(triangles.size(), 3 * (ring.size() - 2));
}

}  // namespace
