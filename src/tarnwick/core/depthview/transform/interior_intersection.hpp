#pragma once
// Whether two segments meet anywhere but at end points they share, decided as GEOS 3.11's line
// intersector decides it (LineIntersector::isInteriorIntersection after computeIntersection).
// No Python here.
//
// GEOS finds the intersection points of the two segments and calls the intersection interior
// when one of them is not an end point of both segments. Worked through its cases, that is:
// - envelopes apart, or one segment wholly on one side of the other: no intersection;
// - not collinear (a crossing, or an end point on the other segment): interior unless the two
//   segments share an end point, because GEOS then reports that shared point (and a proper
//   crossing cannot share one: a shared end point always has orientation 0);
// - collinear: the overlap's end points, chosen in GEOS's order of cases, each tested.
// So no intersection point is ever computed here.
#include <array>

#include "tarnwick/core/depthview/transform/orientation_index.hpp"

namespace tarnwick::depthview::transform {

using Point2 = std::array<double, 2>;

// Whether q lies inside the closed bounding box of a and b.
inline bool box_holds(const Point2& a, const Point2& b, const Point2& q) {
  return q[0] >= (a[0] < b[0] ? a[0] : b[0]) && q[0] <= (a[0] > b[0] ? a[0] : b[0]) &&
         q[1] >= (a[1] < b[1] ? a[1] : b[1]) && q[1] <= (a[1] > b[1] ? a[1] : b[1]);
}

// Whether the bounding boxes of the segments p1-p2 and q1-q2 meet (touching counts).
inline bool boxes_meet(const Point2& p1, const Point2& p2, const Point2& q1, const Point2& q2) {
  if ((p1[0] < p2[0] ? p1[0] : p2[0]) > (q1[0] > q2[0] ? q1[0] : q2[0])) return false;
  if ((p1[0] > p2[0] ? p1[0] : p2[0]) < (q1[0] < q2[0] ? q1[0] : q2[0])) return false;
  if ((p1[1] < p2[1] ? p1[1] : p2[1]) > (q1[1] > q2[1] ? q1[1] : q2[1])) return false;
  if ((p1[1] > p2[1] ? p1[1] : p2[1]) < (q1[1] < q2[1] ? q1[1] : q2[1])) return false;
  return true;
}

// Whether segment p1-p2 and segment q1-q2 have an intersection point that is not an end point of
// both. The argument order matters in near-collinear cases, as in GEOS: p is the indexed segment,
// q the candidate.
inline bool has_interior_intersection(const Point2& p1, const Point2& p2, const Point2& q1,
                                      const Point2& q2) {
  if (!boxes_meet(p1, p2, q1, q2)) return false;
  const int pq1 = orientation_index(p1, p2, q1);
  const int pq2 = orientation_index(p1, p2, q2);
  if ((pq1 > 0 && pq2 > 0) || (pq1 < 0 && pq2 < 0)) return false;
  const int qp1 = orientation_index(q1, q2, p1);
  const int qp2 = orientation_index(q1, q2, p2);
  if ((qp1 > 0 && qp2 > 0) || (qp1 < 0 && qp2 < 0)) return false;

  if (pq1 != 0 || pq2 != 0 || qp1 != 0 || qp2 != 0) {
    return !(p1 == q1 || p1 == q2 || p2 == q1 || p2 == q2);
  }

  // Collinear: the two reported points, in GEOS's order of cases (an empty overlap reports none).
  const bool q1_in_p = box_holds(p1, p2, q1);
  const bool q2_in_p = box_holds(p1, p2, q2);
  const bool p1_in_q = box_holds(q1, q2, p1);
  const bool p2_in_q = box_holds(q1, q2, p2);
  const Point2* first;
  const Point2* second;
  if (q1_in_p && q2_in_p) {
    first = &q1, second = &q2;
  } else if (p1_in_q && p2_in_q) {
    first = &p1, second = &p2;
  } else if (q1_in_p && p1_in_q) {
    first = &q1, second = &p1;
  } else if (q1_in_p && p2_in_q) {
    first = &q1, second = &p2;
  } else if (q2_in_p && p1_in_q) {
    first = &q2, second = &p1;
  } else if (q2_in_p && p2_in_q) {
    first = &q2, second = &p2;
  } else {
    return false;
  }
  // Interior to p or to q. (GEOS reports one point instead of two when both are the same shared
  // end point; the test below gives the same answer either way.)
  auto end_of_both = [&](const Point2& point) {
    return (point == p1 || point == p2) && (point == q1 || point == q2);
  };
  return !end_of_both(*first) || !end_of_both(*second);
}

}  // namespace tarnwick::depthview::transform
