#include "geos_ring_simplify.hpp"

#include <geos_c.h>

namespace tarnwick::testing {

namespace {

GEOSContextHandle_t handle(void* context) { return static_cast<GEOSContextHandle_t>(context); }

void record_message(const char* message, void* target) {
  *static_cast<std::string*>(target) = message;
}

}  // namespace

GeosRingSimplifier::GeosRingSimplifier() : context_(GEOS_init_r()) {
  GEOSContext_setErrorMessageHandler_r(handle(context_), record_message, &message_);
}

GeosRingSimplifier::~GeosRingSimplifier() { GEOS_finish_r(handle(context_)); }

bool GeosRingSimplifier::simplify(std::span<const std::array<double, 2>> ring, double tolerance,
                                  std::vector<std::array<double, 2>>& result) {
  GEOSContextHandle_t ctx = handle(context_);
  message_.clear();
  result.clear();
  GEOSCoordSequence* sequence = GEOSCoordSeq_copyFromBuffer_r(
      ctx, ring.front().data(), static_cast<unsigned>(ring.size()), 0, 0);
  GEOSGeometry* shell = sequence ? GEOSGeom_createLinearRing_r(ctx, sequence) : nullptr;
  GEOSGeometry* polygon = shell ? GEOSGeom_createPolygon_r(ctx, shell, nullptr, 0) : nullptr;
  if (polygon == nullptr) return false;
  GEOSGeometry* simplified = GEOSTopologyPreserveSimplify_r(ctx, polygon, tolerance);
  GEOSGeom_destroy_r(ctx, polygon);
  if (simplified == nullptr) return false;
  bool ok = false;
  if (GEOSGeomTypeId_r(ctx, simplified) != GEOS_POLYGON || GEOSisEmpty_r(ctx, simplified) == 1) {
    message_ = "the result is not a non-empty polygon";
  } else {
    const GEOSGeometry* exterior = GEOSGetExteriorRing_r(ctx, simplified);
    const GEOSCoordSequence* coords = exterior ? GEOSGeom_getCoordSeq_r(ctx, exterior) : nullptr;
    unsigned size = 0;
    if (coords != nullptr && GEOSCoordSeq_getSize_r(ctx, coords, &size) != 0 && size > 0) {
      result.resize(size);
      ok = GEOSCoordSeq_copyToBuffer_r(ctx, coords, result.front().data(), 0, 0) != 0;
    }
  }
  GEOSGeom_destroy_r(ctx, simplified);
  return ok;
}

}  // namespace tarnwick::testing
