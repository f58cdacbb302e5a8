#pragma once
// The reference for the native ring simplification: GEOS's topology-preserving simplification of
// a polygon whose shell is the ring, through the reentrant C API, as the scene parser calls it.
#include <array>
#include <span>
#include <string>
#include <vector>

namespace tarnwick::testing {

class GeosRingSimplifier {
 public:
  GeosRingSimplifier();
  ~GeosRingSimplifier();
  GeosRingSimplifier(const GeosRingSimplifier&) = delete;
  GeosRingSimplifier& operator=(const GeosRingSimplifier&) = delete;

  // Simplifies the closed ring; true with the result's exterior ring in `result`, or false with
  // GEOS's message in error() when GEOS fails or the result is not a non-empty polygon.
  bool simplify(std::span<const std::array<double, 2>> ring, double tolerance,
                std::vector<std::array<double, 2>>& result);
  const std::string& error() const { return message_; }

 private:
  void* context_;  // GEOSContextHandle_t
  std::string message_;
};

}  // namespace tarnwick::testing
