#pragma once
// Topology-preserving simplification of one polygon hull through the GEOS C API. No Python here.
//
// Douglas-Peucker simplification constrained so that the result stays a valid polygon without
// self-intersections (GEOSTopologyPreserveSimplify), as shapely's simplify with preserve_topology
// does. Each Simplifier owns its own reentrant GEOS context: one per parser, used on the parser's
// thread only.
#include <array>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick::depthview {

using Ring = std::vector<std::array<double, 2>>;

// Why a simplification failed; the parser turns each into its Python exception kind.
struct SimplifyError : std::runtime_error {
  enum class Kind {
    invalid_ring,  // GEOS could not build a polygon from the points (ValueError)
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

  // The exterior ring of the simplified polygon whose shell is `points` (closed here when its last
  // point differs from its first). The ring comes back closed, its last point equal to its first.
  Ring simplify(const Ring& points, double tolerance);
  // The same, written into `result`, which may be `points` itself. Reuses the simplifier's
  // scratch buffers, so that a parse allocates nothing per polygon here beyond GEOS's own objects.
  void simplify(const Ring& points, double tolerance, Ring& result);

  // Whether rings that the simplification surely leaves unchanged (keeps_every_point) skip GEOS;
  // on by default. Off, every ring goes through GEOS (tests compare both).
  void set_shortcut(bool shortcut) { shortcut_ = shortcut; }

 private:
  void* context_;  // GEOSContextHandle_t
  std::string message_;
  Ring shell_;  // scratch: the closed input ring
  bool shortcut_ = true;
};

// One simplification by a new Simplifier, with or without the shortcut (for tests).
Ring simplify_once(const Ring& points, double tolerance, bool shortcut);

}  // namespace tarnwick::depthview
