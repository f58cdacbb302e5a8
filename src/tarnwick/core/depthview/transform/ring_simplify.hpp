#pragma once
// GEOS's topology-preserving simplification of one polygon shell, decided without GEOS: the ring
// simplifier. No Python, no GEOS here.
//
// GEOS (3.11, as linked by the module; GEOSTopologyPreserveSimplify on a polygon whose shell is
// the ring) simplifies a ring by Douglas-Peucker from its first point to its closing point: a
// section i..j is replaced by the segment i-j when its farthest point (the first of equally far
// ones) lies within the tolerance, the result is sure to keep at least 4 points, and the new
// segment does not meet the interior of any segment kept so far, flattened or original, outside
// the section; otherwise the section is split at its farthest point and both halves are treated
// alike, the first half first. This file repeats that with GEOS's own arithmetic (distances,
// orientations, intersection cases), so whenever it answers the answer is GEOS's.
//
// It declines (returns false; the caller then asks GEOS) where it cannot vouch for that:
// coordinates so large that GEOS's products overflow, sections whose distances are all NaN, and
// the rare ring whose axis-parallel segment GEOS's quadtree could fail to find because of the
// way it pads zero-width boxes. With GEOS 3.12 and later the result can differ (those versions
// may also drop the ring's first point); this decides 3.11's (see matches_geos_version).
//
// Build ring_simplify.cpp with -ffp-contract=off and TARNWICK_FP_CONTRACT_OFF defined: GEOS's
// rounding is only repeated when no multiply-add is fused (without the definition, a build with
// FMA instructions enabled refuses every ring).
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "tarnwick/core/depthview/transform/segment_index.hpp"

namespace tarnwick::depthview::transform {

// Why the ring simplifier left a ring to GEOS.
enum class RingRefusal : std::uint8_t {
  none,                  // decided
  invalid_input,         // under 4 points, not closed, a non-finite coordinate, tolerance not >= 0
  huge_coordinates,      // a coordinate beyond 1e150 in magnitude
  index_padding,         // an axis-parallel segment GEOS's quadtree might not find
  degenerate,            // a section without a farthest point (distances not comparable)
  short_result,          // a result under 4 points, which GEOS would not return as a polygon
  unsupported_platform,  // arithmetic here could round differently from the linked GEOS
};

std::string_view refusal_name(RingRefusal refusal);

// Reusable state of the ring simplifier: one per thread, reused ring after ring so that a
// ring costs no allocation once the buffers have grown.
class RingSimplifier {
 public:
  // Simplifies the closed ring `ring` (front() == back(), at least 4 points, finite coordinates)
  // with `tolerance` >= 0. On RingRefusal::none, `kept` holds the indices of the ring points that
  // GEOS's result keeps, in order: it starts with 0 and ends with ring.size() - 1, the closing
  // point (GEOS's result repeats its first point). Otherwise `kept` is left empty.
  RingRefusal simplify(std::span<const std::array<double, 2>> ring, double tolerance,
                       std::vector<std::uint32_t>& kept);

 private:
  bool has_bad_intersection(std::span<const std::array<double, 2>> ring, std::uint32_t i,
                            std::uint32_t j) const;

  SegmentIndex input_;   // segments of the ring not yet replaced by a flattening
  SegmentIndex output_;  // segments made by flattenings, in ring order
  std::vector<std::uint32_t> output_start_;  // ring index of each flattened segment's start
  std::vector<std::uint32_t> output_end_;
  struct Section {
    std::uint32_t first, last, depth;
  };
  std::vector<Section> sections_;  // pending sections, the next one last
};

// Whether the ring simplifier decides what the GEOS with version text `geos_version`
// (GEOSversion(), for example "3.11.1-CAPI-1.17.1") decides: 3.11.1, the version it was checked
// against, only. A caller linked to any other GEOS should leave every ring to GEOS.
bool matches_geos_version(std::string_view geos_version);

// Decides GEOS's topology-preserving simplification of one polygon shell without GEOS, with
// a thread-local RingSimplifier. Returns true and fills `kept` as RingSimplifier::simplify does
// when the result is decided; returns false when GEOS must decide.
bool simplify_ring(std::span<const std::array<double, 2>> ring, double tolerance,
                   std::vector<std::uint32_t>& kept);

}  // namespace tarnwick::depthview::transform
