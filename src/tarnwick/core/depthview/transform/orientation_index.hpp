#pragma once
// The side of a directed line on which a point lies, computed with GEOS 3.11's own arithmetic, so
// that every answer, near-collinear ones included, is the one GEOS gives. No Python here.
//
// GEOS first tries a plain double determinant with an error filter; when the filter cannot vouch
// for its sign it recomputes the determinant in double-double arithmetic (a pair of doubles whose
// sum carries about 106 bits) and takes that sign. Double-double is not exact either, so matching
// GEOS means repeating its operations one for one, in the same order: Dekker's split product and
// the accurate double-double sum. This file must be compiled without fused multiply-add
// contraction (-ffp-contract=off), which would change the rounding of these sequences.
#include <array>

namespace tarnwick::depthview::transform {

namespace orientation_detail {

// An unevaluated sum hi + lo of two doubles.
struct DoubleDouble {
  double hi;
  double lo;
};

// x + y, the accurate double-double sum (two two-sums, then renormalisation).
inline DoubleDouble add(DoubleDouble x, DoubleDouble y) {
  const double big = x.hi + y.hi;
  const double small = x.lo + y.lo;
  double big_err = big - x.hi;
  const double small_err = small - x.lo;
  double big_rest = big - big_err;
  double small_rest = small - small_err;
  big_rest = (y.hi - big_err) + (x.hi - big_rest);
  small_rest = (y.lo - small_err) + (x.lo - small_rest);
  big_err = big_rest + small;
  const double head = big + big_err;
  const double tail = big_err + (big - head);
  big_err = small_rest + tail;
  const double hi = head + big_err;
  return {hi, big_err + (head - hi)};
}

// x * y by Dekker's splitting of the high parts into 26-bit halves.
inline DoubleDouble multiply(DoubleDouble x, DoubleDouble y) {
  constexpr double split = 134217729.0;  // 2^27 + 1
  double product = split * x.hi;
  double x_high = product - x.hi;
  double y_split = split * y.hi;
  x_high = product - x_high;
  const double x_low = x.hi - x_high;
  double y_high = y_split - y.hi;
  product = x.hi * y.hi;
  y_high = y_split - y_high;
  const double y_low = y.hi - y_high;
  const double error =
      ((((x_high * y_high - product) + x_high * y_low) + x_low * y_high) + x_low * y_low) +
      (x.hi * y.lo + x.lo * y.hi);
  const double hi = product + error;
  const double rest = product - hi;
  return {hi, error + rest};
}

inline int sign(double value) { return value < 0.0 ? -1 : (value > 0.0 ? 1 : 0); }

}  // namespace orientation_detail

// 1 when q lies to the left of the directed line p1 -> p2, -1 when to the right, 0 when GEOS
// finds the three points collinear. All coordinates finite and of magnitude below about 1e150
// (beyond that the products overflow, in GEOS as here).
inline int orientation_index(const std::array<double, 2>& p1, const std::array<double, 2>& p2,
                             const std::array<double, 2>& q) {
  using namespace orientation_detail;
  // The filter: the determinant about q, trusted when it is clearly away from zero.
  const double det_left = (p1[0] - q[0]) * (p2[1] - q[1]);
  const double det_right = (p1[1] - q[1]) * (p2[0] - q[0]);
  const double det = det_left - det_right;
  double det_sum;
  if (det_left > 0.0) {
    if (det_right <= 0.0) return sign(det);
    det_sum = det_left + det_right;
  } else if (det_left < 0.0) {
    if (det_right >= 0.0) return sign(det);
    det_sum = -det_left - det_right;
  } else {
    return sign(det);
  }
  const double error_bound = 1e-15 * det_sum;
  if (det >= error_bound || -det >= error_bound) return sign(det);

  // Double-double determinant about p2.
  const DoubleDouble dx1 = add({p2[0], 0.0}, {-p1[0], 0.0});
  const DoubleDouble dy1 = add({p2[1], 0.0}, {-p1[1], 0.0});
  const DoubleDouble dx2 = add({q[0], 0.0}, {-p2[0], 0.0});
  const DoubleDouble dy2 = add({q[1], 0.0}, {-p2[1], 0.0});
  const DoubleDouble left = multiply(dx1, dy2);
  const DoubleDouble right = multiply(dy1, dx2);
  const DoubleDouble d = add(left, {-1 * right.hi, -1 * right.lo});
  if (d.hi < 0.0 || (d.hi == 0.0 && d.lo < 0.0)) return -1;
  if (d.hi > 0.0 || (d.hi == 0.0 && d.lo > 0.0)) return 1;
  return 0;
}

}  // namespace tarnwick::depthview::transform
