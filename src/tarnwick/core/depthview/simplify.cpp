#include "tarnwick/core/depthview/simplify.hpp"

#include <geos_c.h>

#include <memory>

#include "tarnwick/core/depthview/simplify_shortcut.hpp"

namespace tarnwick::depthview {

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

}  // namespace

Simplifier::Simplifier() : context_(GEOS_init_r()) {
  GEOSContext_setErrorMessageHandler_r(handle(context_), record_message, &message_);
}

Simplifier::~Simplifier() { GEOS_finish_r(handle(context_)); }

Ring Simplifier::simplify(const Ring& points, double tolerance) {
  Ring result;
  simplify(points, tolerance, result);
  return result;
}

void Simplifier::simplify(const Ring& points, double tolerance, Ring& result) {
  GEOSContextHandle_t ctx = handle(context_);
  Ring& shell = shell_;
  shell.assign(points.begin(), points.end());
  if (!shell.empty() && shell.front() != shell.back()) shell.push_back(shell.front());
  Geometry polygon(nullptr, GeometryDeleter{ctx});
  if (shell.empty()) {
    polygon.reset(GEOSGeom_createEmptyPolygon_r(ctx));
  } else {
    if (shell.size() < 4) {
      throw SimplifyError(SimplifyError::Kind::invalid_ring,
                          "A linearring requires at least 4 coordinates.");
    }
    if (shortcut_ && keeps_every_point(shell, tolerance)) {
      result.assign(shell.begin(), shell.end());
      return;
    }
    message_.clear();
    GEOSCoordSequence* sequence = GEOSCoordSeq_copyFromBuffer_r(
        ctx, shell.front().data(), static_cast<unsigned>(shell.size()), 0, 0);
    GEOSGeometry* ring = sequence ? GEOSGeom_createLinearRing_r(ctx, sequence) : nullptr;
    if (ring != nullptr) polygon.reset(GEOSGeom_createPolygon_r(ctx, ring, nullptr, 0));
    if (!polygon) throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  }
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
  result.resize(size);
  if (GEOSCoordSeq_copyToBuffer_r(ctx, coords, result.front().data(), 0, 0) == 0) {
    throw SimplifyError(SimplifyError::Kind::invalid_ring, message_);
  }
}

Ring simplify_once(const Ring& points, double tolerance, bool shortcut) {
  Simplifier simplifier;
  simplifier.set_shortcut(shortcut);
  return simplifier.simplify(points, tolerance);
}

}  // namespace tarnwick::depthview
