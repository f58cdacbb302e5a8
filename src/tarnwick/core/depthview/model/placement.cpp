#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::model {

namespace {

// KLayout's tolerance for angles and magnifications.
constexpr double kEpsilon = 1e-10;

// The unit vector (1, 0) under each simple transformation code (rotation 0..3, plus 4 when
// mirrored), as KLayout turns a simple transformation into a complex one, zero signs included.
constexpr double kCos[] = {1.0, -0.0, -1.0, 0.0, 1.0, 0.0, -1.0, -0.0};
constexpr double kSin[] = {0.0, 1.0, -0.0, -1.0, -0.0, 1.0, 0.0, -1.0};

}  // namespace

Placement Placement::simple(int rotation, bool mirror, double dx, double dy, bool floating) {
  const int code = ((rotation % 4) + 4) % 4 + (mirror ? 4 : 0);
  Placement p;
  p.cos = kCos[code];
  p.sin = kSin[code];
  p.mag = mirror ? -1.0 : 1.0;
  p.dx = dx;
  p.dy = dy;
  p.floating = floating;
  return p;
}

Placement Placement::complex_from(double sin, double cos, double signed_mag, double dx, double dy,
                                  bool floating) {
  Placement p;
  p.sin = sin;
  p.cos = cos;
  p.mag = signed_mag;
  p.dx = dx;
  p.dy = dy;
  p.complex = true;
  p.floating = floating;
  return p;
}

int Placement::rotation() const {
  if (cos > 0.5) return 0;
  if (sin > 0.5) return 1;
  if (cos < -0.5) return 2;
  return 3;
}

double Placement::angle_degrees() const {
  if (!complex) return 90.0 * rotation();
  double a = std::atan2(sin, cos) * (180.0 / std::numbers::pi);
  if (a < -kEpsilon) {
    a += 360.0;
  } else if (a <= kEpsilon) {
    a = 0.0;
  }
  return a;
}

std::array<double, 6> affine_matrix(double angle_degrees, bool mirror, double r, double x,
                                    double y) {
  const double a = angle_degrees / 180.0 * std::numbers::pi;
  const double s = std::sin(a);
  const double c = std::cos(a);
  const double m = mirror ? -1.0 : 1.0;
  return {c * r, (-m) * s * r, x, s * r, m * c * r, y};
}

std::array<double, 6> Placement::matrix(double units_per_micrometre) const {
  return affine_matrix(angle_degrees(), mirror(), complex ? magnification() : 1.0,
                       dx / units_per_micrometre, dy / units_per_micrometre);
}

bool Placement::same_as(const Placement& other) const {
  return complex == other.complex && floating == other.floating && dx == other.dx &&
         dy == other.dy && std::fabs(sin - other.sin) <= kEpsilon &&
         std::fabs(cos - other.cos) <= kEpsilon && std::fabs(mag - other.mag) <= kEpsilon;
}

Placement compose(const Placement& p, const Placement& t) {
  // KLayout's concatenation of complex transformations, term by term in its order.
  const double s1 = p.mag < 0.0 ? -1.0 : 1.0;
  const double tux = p.cos * t.dx * std::fabs(p.mag) - p.sin * t.dy * p.mag;
  const double tuy = p.sin * t.dx * std::fabs(p.mag) + p.cos * t.dy * p.mag;
  Placement result;
  result.dx = p.dx + tux;
  result.dy = p.dy + tuy;
  result.mag = p.mag * t.mag;
  result.cos = p.cos * t.cos - s1 * p.sin * t.sin;
  result.sin = p.sin * t.cos + s1 * p.cos * t.sin;
  result.complex = p.complex || t.complex;
  result.floating = p.floating || t.floating;
  return result;
}

void multiply(std::span<const Placement> parents, std::span<const Placement> children,
              std::vector<Placement>& out) {
  out.reserve(out.size() + parents.size() * children.size());
  for (const Placement& t : children) {
    for (const Placement& p : parents) out.push_back(compose(p, t));
  }
}

std::uint64_t CellInstancePlacements::count() const {
  if (!explicit_list.empty()) return explicit_list.size();
  if (na <= 0 || nb <= 0) return 0;
  return static_cast<std::uint64_t>(na) * static_cast<std::uint64_t>(nb);
}

void CellInstancePlacements::expand(std::vector<Placement>& out) const {
  if (!explicit_list.empty()) {
    out.insert(out.end(), explicit_list.begin(), explicit_list.end());
    return;
  }
  out.reserve(out.size() + count());
  for (std::int64_t j = 0; j < nb; ++j) {
    for (std::int64_t i = 0; i < na; ++i) {
      Placement element = base;
      element.dx = base.dx + (static_cast<double>(i) * ax + static_cast<double>(j) * bx);
      element.dy = base.dy + (static_cast<double>(i) * ay + static_cast<double>(j) * by);
      out.push_back(element);
    }
  }
}

}  // namespace tarnwick::depthview::model
