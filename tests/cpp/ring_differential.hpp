#pragma once
// One generated ring through both the native ring simplification and GEOS, compared point for
// point. Shared by the GoogleTest slice and the full run in bench/.
#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "geos_ring_simplify.hpp"
#include "ring_generator.hpp"
#include "tarnwick/core/depthview/transform/ring_simplify.hpp"

namespace tarnwick::testing {

using depthview::transform::RingRefusal;

// Whether the ring points at `kept` are GEOS's result, bit for bit.
inline bool same_points(std::span<const std::array<double, 2>> ring,
                        std::span<const std::uint32_t> kept,
                        std::span<const std::array<double, 2>> geos) {
  if (kept.size() != geos.size()) return false;
  for (std::size_t k = 0; k < kept.size(); ++k) {
    const auto& p = ring[kept[k]];
    if (std::bit_cast<std::uint64_t>(p[0]) != std::bit_cast<std::uint64_t>(geos[k][0]) ||
        std::bit_cast<std::uint64_t>(p[1]) != std::bit_cast<std::uint64_t>(geos[k][1])) {
      return false;
    }
  }
  return true;
}

// What one comparison found.
struct RingComparison {
  RingRefusal refusal = RingRefusal::none;
  bool geos_ok = false;
  bool mismatch = false;  // the native path answered and differs from GEOS (or GEOS failed)
};

// Scratch buffers and both simplifiers, reused ring after ring.
struct RingDifferential {
  depthview::transform::RingSimplifier native;
  GeosRingSimplifier geos;
  std::vector<std::uint32_t> kept;
  std::vector<std::array<double, 2>> geos_result;

  RingComparison compare(const GeneratedRing& ring) {
    RingComparison outcome;
    outcome.refusal = native.simplify(ring.points, ring.tolerance, kept);
    outcome.geos_ok = geos.simplify(ring.points, ring.tolerance, geos_result);
    outcome.mismatch = outcome.refusal == RingRefusal::none &&
                       (!outcome.geos_ok || !same_points(ring.points, kept, geos_result));
    return outcome;
  }
};

// A readable account of a ring and both results, for a failure message.
std::string describe(const GeneratedRing& ring, std::span<const std::uint32_t> kept,
                     std::span<const std::array<double, 2>> geos);

}  // namespace tarnwick::testing
