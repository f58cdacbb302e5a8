#pragma once
// Topology-preserving simplification of one polygon hull. No Python in here.
//
// Douglas-Peucker simplification constrained so that the result stays a valid polygon without
// self-intersections, exactly as GEOS's GEOSTopologyPreserveSimplify does it (the GEOS version
// the module links is the reference). The ring simplifier (ring_simplify.hpp) decides
// almost every ring without building a GEOS geometry; GEOS decides the rest. Each Simplifier
// owns its own reentrant GEOS context and is used on one thread.
//
// The result is a subsequence of the input points, so it is returned as the indices of the points
// kept.
#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/transform/ring_simplify.hpp"

namespace tarnwick::depthview::transform {

using Point = std::array<double, 2>;
using Ring = std::vector<Point>;

// Why a simplification failed.
struct SimplifyError : std::runtime_error {
  enum class Kind {
    invalid_ring,  // no polygon can be built from the points (ValueError)
    not_polygon,   // the result is not a single polygon (AssertionError without message)
    empty,         // the result's ring has no points (IndexError)
  };
  SimplifyError(Kind kind, const std::string& message) : std::runtime_error(message), kind(kind) {}
  Kind kind;
};

class Simplifier {
 public:
  Simplifier();
  ~Simplifier();
  Simplifier(const Simplifier&) = delete;
  Simplifier& operator=(const Simplifier&) = delete;

  // Simplifies the polygon whose shell is `points` (closed here when its last point differs from
  // its first; the closed shell has `points.size()` or `points.size() + 1` points) with the
  // distance `tolerance`. `kept` receives the indices into the closed shell of the points of the
  // simplified exterior ring, which comes back closed (its last point equal to its first).
  // SimplifyError as above; std::invalid_argument for coordinates that are not finite.
  void simplify(const Ring& points, double tolerance, std::vector<std::uint32_t>& kept);

  // Whether rings the ring simplifier decides skip GEOS (on by default). Off, every ring
  // goes through GEOS, the reference.
  void set_fast_path(bool on) { fast_path_ = on; }

  // The closed shell of the last call.
  const Ring& shell() const { return shell_; }

 private:
  void simplify_with_geos(double tolerance, std::vector<std::uint32_t>& kept);

  void* context_;  // GEOSContextHandle_t
  std::string message_;
  Ring shell_;   // the closed input ring
  Ring result_;  // GEOS's output ring
  RingSimplifier ring_simplifier_;
  bool fast_path_ = true;
};

}  // namespace tarnwick::depthview::transform
