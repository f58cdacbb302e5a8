#pragma once
// One polygon hull as the scene keeps it: its points in micrometres (the layout's integers divided
// by the database units per micrometre), simplified when a tolerance is given, never closed.
// No Python in here.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tarnwick/core/depthview/transform/simplify.hpp"

namespace tarnwick::depthview::transform {

class PolygonExtractor {
 public:
  // `tolerance` absent: every hull point is kept.
  PolygonExtractor(double units_per_micrometre, std::optional<double> tolerance);

  // The kept points of a hull given in database units (x, y pairs, not closed), as database-unit
  // coordinates, into `out` (cleared first). Errors of the simplification as SimplifyError.
  void extract(std::span<const std::int64_t> hull, std::vector<std::int64_t>& out);

  // The same polygon in micrometres, from a hull given in database units as doubles.
  void extract_micrometres(std::span<const double> hull, Ring& out);

  double units_per_micrometre() const { return units_per_micrometre_; }
  const std::optional<double>& tolerance() const { return tolerance_; }
  Simplifier& simplifier() { return simplifier_; }

 private:
  // Simplifies points_ into kept_: indices into points_, the closing point not repeated.
  void keep();

  double units_per_micrometre_;
  std::optional<double> tolerance_;
  Simplifier simplifier_;
  Ring points_;
  std::vector<std::uint32_t> kept_;
};

}  // namespace tarnwick::depthview::transform
