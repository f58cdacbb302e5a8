#pragma once
// Seeded generator of closed rings (coordinates in micrometres) for checking the native ring
// simplification against GEOS: layout-like shapes (circles, regular polygons, arcs, rounded
// rectangles, tapers, Manhattan outlines), hard ones (wiggles and spirals near the tolerance,
// nearly collinear runs, rings smaller than the tolerance, self-touching and nearly self-touching
// outlines, random self-crossing rings) and huge coordinates, with the default tolerance 0.01 most
// of the time and others (0, tiny, large) otherwise.
//
// Ring number `index` of a seed is always the same ring, however many are generated, so that a
// short slice and a long run share their first rings and a failing ring can be regenerated alone.
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarnwick::testing {

struct GeneratedRing {
  std::string_view kind;
  std::vector<std::array<double, 2>> points;  // closed: the last point equals the first
  double tolerance = 0.01;
};

// The kinds generate_ring draws from, in a fixed order.
const std::vector<std::string_view>& ring_kinds();

// Fills `ring` with ring number `index` of `seed` (reusing its buffer).
void generate_ring(std::uint64_t seed, std::uint64_t index, GeneratedRing& ring);

}  // namespace tarnwick::testing
