#pragma once
// The caps of an extruded polygon: its ring cleaned and cut into triangles. No Python in here.
//
// Pool polygons are hulls without holes in integer coordinates. They may be non-convex, repeat
// points, hold collinear points or touch themselves (a hole joined to the outside by a cut line
// runs along the cut twice). Every test here is exact (integer arithmetic), so a ring is cut the
// same way on every machine.
#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick::depthview::write {

struct RingPoint {
  std::int64_t x = 0, y = 0;
  friend bool operator==(const RingPoint&, const RingPoint&) = default;
};

// The ring of `coordinates` (x0, y0, x1, y1, ...; closing point not repeated) without repeated
// points and without points on a straight line through their neighbours (spikes of no width
// included), counter-clockwise. Empty when nothing with an area is left (fewer than three points,
// or an area of zero).
std::vector<RingPoint> clean_ring(std::span<const std::int32_t> coordinates);

// Appends the triangles of the counter-clockwise ring `ring` (as clean_ring makes it) to
// `triangles`: ring.size() - 2 triples of indices into `ring`, each counter-clockwise or of no
// area. A convex ring is fanned; any other is cut by ear clipping. A ring that crosses itself
// still gets its ring.size() - 2 triangles, some of which may then overlap.
void triangulate_ring(std::span<const RingPoint> ring, std::vector<std::uint32_t>& triangles);

}  // namespace tarnwick::depthview::write
