#pragma once
// One placement of a cell: KLayout's transformation, in plain C++. No Python in here.
//
// A simple placement rotates by a multiple of 90 degrees after an optional mirror at the x axis;
// a complex one rotates by any angle and magnifies. Both then displace. Every placement is held
// the way KLayout holds a complex transformation (sine and cosine of the angle, a magnification
// whose sign is the mirror, a displacement in doubles), so that products are KLayout's own, bit
// for bit; a simple placement has exact sines and cosines of 0, 1 or -1 and magnification ±1.
//
// `complex` records which kind of transformation the placement stands for (it decides the map
// form and the KLayout type made for it), `floating` whether its displacement is in floating
// units (DTrans, DCplxTrans) rather than integer ones (Trans, ICplxTrans).
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

namespace tarnwick::depthview::model {

struct Placement {
  double sin = 0.0;
  double cos = 1.0;
  double mag = 1.0;  // negative: mirrored at the x axis before the rotation
  double dx = 0.0;
  double dy = 0.0;
  bool complex = false;
  bool floating = false;

  // A simple placement: rotation code 0..3 (counter-clockwise, steps of 90 degrees), mirror,
  // displacement.
  static Placement simple(int rotation, bool mirror, double dx, double dy, bool floating = false);
  // A complex placement from KLayout's own representation of one.
  static Placement complex_from(double sin, double cos, double signed_mag, double dx, double dy,
                                bool floating = false);

  bool mirror() const { return mag < 0.0; }
  double magnification() const { return std::fabs(mag); }
  // The rotation code 0..3 of a simple placement.
  int rotation() const;
  // The rotation in degrees as KLayout reports it: 0, 90, 180 or 270 for a simple placement; for
  // a complex one atan2 of sine and cosine in degrees, in [0, 360), tiny values taken as 0.
  double angle_degrees() const;

  // The placement's affine_matrix: its angle in degrees, its mirror, r = its magnification (1
  // for a simple placement), its displacement divided by `units_per_micrometre` (1 keeps the
  // placement's own units).
  std::array<double, 6> matrix(double units_per_micrometre = 1.0) const;

  // KLayout's equality: displacements equal, sine, cosine and magnification within 1e-10; both of
  // the same kind.
  bool same_as(const Placement& other) const;
};

// The 2x3 matrix, row by row, ((c·r, -m·s·r, x), (s·r, m·c·r, y)) of a rotation by
// `angle_degrees` after an optional mirror at the x axis, magnified by r and displaced by (x, y):
// a = angle / 180 · π (the division first), s = sin a and c = cos a not rounded (90 degrees gives
// a cosine of about 6.1e-17), m = -1 for a mirror, else 1; with m = 1 and s = 0 the entry -m·s·r
// is negative zero.
std::array<double, 6> affine_matrix(double angle_degrees, bool mirror, double r, double x,
                                    double y);

// The product p × t: t applied first, then p. The result is complex when either side is, and
// floating when either side is.
Placement compose(const Placement& p, const Placement& t);

// Every product of `parents` and `children`, grouped by child: for each child (outer), each parent
// (inner), appended to `out`.
void multiply(std::span<const Placement> parents, std::span<const Placement> children,
              std::vector<Placement>& out);

// The placements of one cell instance: `base` for the element (0, 0) of a regular array of na × nb
// elements, element (i, j) displaced by i·a + j·b with i running fastest (KLayout's order), or an
// explicit list of placements (irregular arrays).
struct CellInstancePlacements {
  Placement base;
  std::int64_t na = 1, nb = 1;
  double ax = 0.0, ay = 0.0, bx = 0.0, by = 0.0;
  std::vector<Placement> explicit_list;  // when not empty, the placements themselves

  std::uint64_t count() const;
  // Appends every placement, in KLayout's order.
  void expand(std::vector<Placement>& out) const;
};

// One cell instance: a reference of a cell inside another (possibly an array), the placed cell
// and its placements.
struct CellInstance {
  std::int64_t target;  // the placed cell's index
  CellInstancePlacements placements;
};

}  // namespace tarnwick::depthview::model
