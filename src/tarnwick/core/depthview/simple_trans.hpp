#pragma once
// KLayout's simple transformation in plain C++: a rotation by a multiple of 90 degrees after an
// optional mirror at the x axis, then an integer displacement. No Python in here.
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace tarnwick::depthview {

struct SimpleTrans {
  int rot = 0;  // rotation code 0..3, counter-clockwise in steps of 90 degrees
  bool mirror = false;
  std::int64_t dx = 0;
  std::int64_t dy = 0;

  friend bool operator==(const SimpleTrans&, const SimpleTrans&) = default;

  // The point (x, y) transformed: mirror, rotate, displace.
  std::array<std::int64_t, 2> apply(std::int64_t x, std::int64_t y) const {
    if (mirror) y = -y;
    switch (rot & 3) {
      case 1:
        return {-y + dx, x + dy};
      case 2:
        return {-x + dx, -y + dy};
      case 3:
        return {y + dx, -x + dy};
      default:
        return {x + dx, y + dy};
    }
  }
};

// The product p × t, which applies t first and then p: linear part Lp·Lt, displacement
// Lp·dt + dp. A mirror before a rotation turns the later rotation's sense around.
inline SimpleTrans compose(const SimpleTrans& p, const SimpleTrans& t) {
  const auto d = p.apply(t.dx, t.dy);
  SimpleTrans result;
  result.rot = ((p.mirror ? p.rot - t.rot : p.rot + t.rot) % 4 + 4) % 4;
  result.mirror = p.mirror != t.mirror;
  result.dx = d[0];
  result.dy = d[1];
  return result;
}

// The 2x3 placement matrix, row by row, of a rotation by `angle_degrees` after an optional mirror,
// displaced by (x, y): ((c, -m·s, x), (s, m·c, y)) with s, c the sine and cosine of the angle in
// radians (angle / 180 · π, the division first) and m = -1 for a mirror, else 1. The sine and
// cosine are not rounded: 90 degrees gives a cosine of about 6.1e-17, and with m = 1 and s = 0 the
// entry -m·s is negative zero.
inline std::array<double, 6> placement_matrix(double angle_degrees, bool mirror, double x,
                                              double y) {
  const double a = angle_degrees / 180.0 * std::numbers::pi;
  const double s = std::sin(a);
  const double c = std::cos(a);
  const double m = mirror ? -1.0 : 1.0;
  return {c, (-m) * s, x, s, m * c, y};
}

}  // namespace tarnwick::depthview
