#include "ring_differential.hpp"

#include <cstdio>

namespace tarnwick::testing {

namespace {

void append_point(std::string& text, const std::array<double, 2>& p) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, " (%.17g, %.17g)", p[0], p[1]);
  text += buffer;
}

}  // namespace

std::string describe(const GeneratedRing& ring, std::span<const std::uint32_t> kept,
                     std::span<const std::array<double, 2>> geos) {
  std::string text = std::string(ring.kind) + " ring, tolerance " + std::to_string(ring.tolerance) +
                     ", " + std::to_string(ring.points.size()) + " points:";
  for (const auto& p : ring.points) append_point(text, p);
  text += "\nnative keeps:";
  for (std::uint32_t k : kept) text += " " + std::to_string(k);
  text += "\nGEOS returns:";
  for (const auto& p : geos) append_point(text, p);
  return text;
}

}  // namespace tarnwick::testing
