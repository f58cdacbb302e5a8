#include "tarnwick/core/depthview/transform/simplify.hpp"

#include <geos_c.h>

#include <cmath>
#include <memory>

#include "tarnwick/core/depthview/transform/ring_simplify.hpp"

namespace tarnwick::depthview::transform {

namespace {

GEOSContextHandle_t handle(void* context) { return static_cast<GEOSContextHandle_t>(context); }

void record_message(const char* message, void* target) {
  *static_cast<std::string*>(target) = message;
}

// Releases a GEOS geometry of one context.
struct GeometryDeleter {
  GEOSContextHandle_t context;
  void operator()(GEOSGeometry* geometry) const { GEOSGeom_destroy_r(context, geometry); }
};
using Geometry = std::unique_ptr<GEOSGeometry, GeometryDeleter>;

// Whether the ring simplifier decides what the linked GEOS decides.
bool ring_simplifier_matches_geos() {
  static const bool matches = matches_geos_version(GEOSversion());
  return matches;
}

}  // namespace

Simplifier::Simplifier() : context_(GEOS_init_r()) {
  GEOSContext_setErrorMessageHandler_r(handle(context_), record_message, &message_);
}

Simplifier::~Simplifier() { GEOS_finish_r(handle(context_)); }

void Simplifier::simplify(const Ring& points, double tolerance, std::vector<std::uint32_t>& kept) {
  for (const Point& p : points) {
    // GEOS loops for ever in its index on coordinates that are not numbers.
    if (!std::isfinite(p[0]) || !std::isfinite(p[1]))
      throw std::invalid_argument("a polygon coordinate is not a finite number");
  }
  shell_.assign(points.begin(), points.end());
  if (!shell_.empty() && shell_.front() != shell_.back()) shell_.push_back(shell_.front());
  kept.clear();
  if (!shell_.empty() && shell_.size() < 4) {
    throw SimplifyError(SimplifyError::Kind::invalid_ring,
                        "A linearring requires at least 4 coordinates.");
  }
  if (fast_path_ && !shell_.empty() && ring_simplifier_matches_geos()) {
    if (ring_simplifier_.simplify(shell_, tolerance, kept) == RingRefusal::none) return;
  }
  simplify_with_geos(tolerance, kept);
}

void Simplifier::simplify_with_geos(double tolerance, std::vector<std::uint32_t>& kept) {
  GEOSContextHandle_t ctx = handle(context_);
  Geometry polygon(nullptr, GeometryDeleter{ctx});
  message_.clear();
  if (shell_.empty()) {
    polygon.reset(GEOSGeom_createEmptyPolygon_r(ctx));
  } else {
    GEOSCoordSequence* sequence = GEOSCoordSeq_copyFromBuffer_r(
        ctx, shell_.front().data(), static_cast<unsigned>(shell_.size()), 0, 0);
    GEOSGeometry* ring = sequence ? GEOSGeom_createLinearRing_r(ctx, sequence) : nullptr;
    if (ring != nullptr) polygon.reset(GEOSGeom_createPolygon_r(ctx, ring, nullptr, 0));
  }
  if (!polygon) throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  message_.clear();
  Geometry simplified(GEOSTopologyPreserveSimplify_r(ctx, polygon.get(), tolerance),
                      GeometryDeleter{ctx});
  if (!simplified) throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  if (GEOSGeomTypeId_r(ctx, simplified.get()) != GEOS_POLYGON) {
    throw SimplifyError(SimplifyError::Kind::not_polygon, "");
  }
  if (GEOSisEmpty_r(ctx, simplified.get()) == 1) {
    throw SimplifyError(SimplifyError::Kind::empty, "list index out of range");
  }
  const GEOSGeometry* exterior = GEOSGetExteriorRing_r(ctx, simplified.get());
  const GEOSCoordSequence* coords = exterior ? GEOSGeom_getCoordSeq_r(ctx, exterior) : nullptr;
  unsigned size = 0;
  if (coords == nullptr || GEOSCoordSeq_getSize_r(ctx, coords, &size) == 0) {
    throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  }
  if (size == 0) throw SimplifyError(SimplifyError::Kind::empty, "list index out of range");
  result_.resize(size);
  if (GEOSCoordSeq_copyToBuffer_r(ctx, coords, result_.front().data(), 0, 0) == 0) {
    throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  }
  // The simplification only drops points: each output point is an input point, found in order
  // (a closing point that repeats an earlier one is found from the start).
  std::uint32_t at = 0;
  const auto size_of_shell = static_cast<std::uint32_t>(shell_.size());
  for (const Point& p : result_) {
    std::uint32_t found = at;
    while (found < size_of_shell && shell_[found] != p) ++found;
    if (found == size_of_shell) {
      found = 0;
      while (found < size_of_shell && shell_[found] != p) ++found;
    }
    if (found == size_of_shell) {
      throw SimplifyError(SimplifyError::Kind::invalid_ring,
                          "the simplification returned a point that is not on the polygon");
    }
    kept.push_back(found);
    at = found + 1;
  }
}

}  // namespace tarnwick::depthview::transform
