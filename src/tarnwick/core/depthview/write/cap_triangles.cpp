#include "tarnwick/core/depthview/write/cap_triangles.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <numeric>

namespace tarnwick::depthview::write {

namespace {

using Wide = __int128;

// Twice the signed area of the triangle (a, b, c): positive when it turns left.
Wide cross(const RingPoint& a, const RingPoint& b, const RingPoint& c) {
  return static_cast<Wide>(b.x - a.x) * (c.y - a.y) - static_cast<Wide>(b.y - a.y) * (c.x - a.x);
}

// The cross product of the directions u and v.
Wide cross(std::int64_t ux, std::int64_t uy, std::int64_t vx, std::int64_t vy) {
  return static_cast<Wide>(ux) * vy - static_cast<Wide>(uy) * vx;
}

// Whether the direction d from the corner `at` of the counter-clockwise triangle runs strictly
// between the triangle's sides from `at` to `first` and from `at` to `second` (in that order).
bool strictly_inside_angle(const RingPoint& at, const RingPoint& first, const RingPoint& second,
                           std::int64_t dx, std::int64_t dy) {
  return cross(first.x - at.x, first.y - at.y, dx, dy) > 0 &&
         cross(dx, dy, second.x - at.x, second.y - at.y) > 0;
}

// Whether p lies in the closed counter-clockwise triangle (a, b, c).
bool in_triangle(const RingPoint& a, const RingPoint& b, const RingPoint& c, const RingPoint& p) {
  return cross(a, b, p) >= 0 && cross(b, c, p) >= 0 && cross(c, a, p) >= 0;
}

// A ring that turns left at every point is convex unless it winds more than once around; then its
// direction along x changes sign more than twice.
bool convex(std::span<const RingPoint> ring) {
  const std::size_t n = ring.size();
  int flips = 0;
  std::int64_t previous = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const RingPoint& a = ring[i];
    const RingPoint& b = ring[(i + 1) % n];
    const RingPoint& c = ring[(i + 2) % n];
    if (cross(a, b, c) <= 0) return false;
    const std::int64_t dx = b.x - a.x;
    if (dx != 0) {
      if (previous != 0 && (dx > 0) != (previous > 0)) ++flips;
      previous = dx;
    }
  }
  return flips <= 2;
}

class EarClipper {
 public:
  EarClipper(std::span<const RingPoint> ring, std::vector<std::uint32_t>& out)
      : ring_(ring), out_(out), n_(static_cast<std::uint32_t>(ring.size())) {
    prev_.resize(n_);
    next_.resize(n_);
    removed_.assign(n_, false);
    for (std::uint32_t i = 0; i < n_; ++i) {
      prev_[i] = i == 0 ? n_ - 1 : i - 1;
      next_[i] = i + 1 == n_ ? 0 : i + 1;
    }
    // Points met more than once (where the ring touches itself).
    std::vector<std::uint32_t> order(n_);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return ring_[a].x != ring_[b].x ? ring_[a].x < ring_[b].x : ring_[a].y < ring_[b].y;
    });
    shared_.assign(n_, false);
    for (std::uint32_t k = 1; k < n_; ++k) {
      if (ring_[order[k]] == ring_[order[k - 1]]) shared_[order[k]] = shared_[order[k - 1]] = true;
    }
    // Only a reflex point or a point met twice can spoil an ear of a simple ring; points that turn
    // left stay so as ears are cut, so the candidates only ever hold too many.
    for (std::uint32_t i = 0; i < n_; ++i) {
      if (shared_[i] || turn(i) <= 0) candidates_.push_back(i);
    }
    index_candidates();
  }

  void run() {
    std::uint32_t left = n_;
    std::uint32_t i = 0;
    std::uint32_t tried = 0;  // points tried since the last cut
    while (left > 3) {
      if (is_ear(i)) {
        i = cut(i);
        --left;
        tried = 0;
        continue;
      }
      i = next_[i];
      if (++tried <= left) continue;
      // No ear in a whole round: the ring crosses itself. Cut the first point that does not turn
      // right (or any point), so that the work ends with the expected number of triangles.
      std::uint32_t pick = i;
      for (std::uint32_t k = 0; k < left; ++k, pick = next_[pick]) {
        if (turn(pick) >= 0) break;
      }
      i = cut(pick);
      --left;
      tried = 0;
    }
    emit(prev_[i], i, next_[i]);
  }

 private:
  Wide turn(std::uint32_t i) const { return cross(ring_[prev_[i]], ring_[i], ring_[next_[i]]); }

  void emit(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    if (cross(ring_[a], ring_[b], ring_[c]) < 0) std::swap(b, c);
    out_.push_back(a);
    out_.push_back(b);
    out_.push_back(c);
  }

  // Cuts the triangle at i off the ring; the point to try next.
  std::uint32_t cut(std::uint32_t i) {
    const std::uint32_t a = prev_[i], c = next_[i];
    emit(a, i, c);
    next_[a] = c;
    prev_[c] = a;
    removed_[i] = true;
    return c;
  }

  bool is_ear(std::uint32_t b) const {
    const std::uint32_t ia = prev_[b], ic = next_[b];
    const RingPoint &a = ring_[ia], &pb = ring_[b], &c = ring_[ic];
    if (cross(a, pb, c) <= 0) return false;
    const std::int64_t min_x = std::min({a.x, pb.x, c.x}), max_x = std::max({a.x, pb.x, c.x});
    const std::int64_t min_y = std::min({a.y, pb.y, c.y}), max_y = std::max({a.y, pb.y, c.y});
    const auto [x0, y0] = cell_of(min_x, min_y);
    const auto [x1, y1] = cell_of(max_x, max_y);
    for (std::size_t gy = y0; gy <= y1; ++gy) {
      for (std::size_t gx = x0; gx <= x1; ++gx) {
        const std::size_t cell = gy * columns_ + gx;
        for (std::size_t e = cell_start_[cell]; e < cell_start_[cell + 1]; ++e) {
          if (!spoils(cell_points_[e], ia, b, ic, min_x, max_x, min_y, max_y)) continue;
          return false;
        }
      }
    }
    return true;
  }

  // Whether the point k spoils the ear (a, b, c) whose box is given.
  bool spoils(std::uint32_t k, std::uint32_t ia, std::uint32_t b, std::uint32_t ic,
              std::int64_t min_x, std::int64_t max_x, std::int64_t min_y,
              std::int64_t max_y) const {
    const RingPoint &a = ring_[ia], &pb = ring_[b], &c = ring_[ic];
    if (removed_[k] || k == ia || k == b || k == ic) return false;
    const RingPoint& p = ring_[k];
    if (p.x < min_x || p.x > max_x || p.y < min_y || p.y > max_y) return false;
    if (p == a || p == pb || p == c) {
      // The ring comes back to a corner of the triangle: the ear is spoilt when either side of
      // the ring at that point runs into the triangle.
      const RingPoint* corner[3][3] = {{&a, &pb, &c}, {&pb, &c, &a}, {&c, &a, &pb}};
      for (const auto& [at, first, second] : corner) {
        if (p != *at) continue;
        for (const std::uint32_t side : {prev_[k], next_[k]}) {
          const RingPoint& q = ring_[side];
          if (strictly_inside_angle(*at, *first, *second, q.x - p.x, q.y - p.y)) return true;
        }
      }
      return false;
    }
    return in_triangle(a, pb, c, p);
  }

  // The candidates in a grid of cells over their box, about two a cell, so that an ear looks only
  // at the points near it: a ring of many points is cut in about linear time, not quadratic.
  void index_candidates() {
    min_x_ = min_y_ = INT64_MAX;
    std::int64_t max_x = INT64_MIN, max_y = INT64_MIN;
    for (const std::uint32_t k : candidates_) {
      min_x_ = std::min(min_x_, ring_[k].x);
      min_y_ = std::min(min_y_, ring_[k].y);
      max_x = std::max(max_x, ring_[k].x);
      max_y = std::max(max_y, ring_[k].y);
    }
    columns_ = 1;
    if (candidates_.size() > 64) {
      columns_ = std::min<std::size_t>(
          1024, static_cast<std::size_t>(std::sqrt(candidates_.size() / 2.0)));
    }
    if (candidates_.empty()) min_x_ = min_y_ = max_x = max_y = 0;
    // Cell sizes in whole units, rounded up (coordinates span at most 2^33).
    cell_w_ = (max_x - min_x_) / static_cast<std::int64_t>(columns_) + 1;
    cell_h_ = (max_y - min_y_) / static_cast<std::int64_t>(columns_) + 1;
    cell_start_.assign(columns_ * columns_ + 1, 0);
    for (const std::uint32_t k : candidates_) ++cell_start_[cell_index(k) + 1];
    for (std::size_t i = 1; i < cell_start_.size(); ++i) cell_start_[i] += cell_start_[i - 1];
    cell_points_.resize(candidates_.size());
    std::vector<std::size_t> fill(cell_start_.begin(), cell_start_.end() - 1);
    for (const std::uint32_t k : candidates_) cell_points_[fill[cell_index(k)]++] = k;
  }

  // The cell of a point, clamped to the grid.
  std::pair<std::size_t, std::size_t> cell_of(std::int64_t x, std::int64_t y) const {
    auto clamp = [&](std::int64_t v, std::int64_t low, std::int64_t size) {
      if (v < low) return std::size_t{0};
      return std::min(columns_ - 1, static_cast<std::size_t>((v - low) / size));
    };
    return {clamp(x, min_x_, cell_w_), clamp(y, min_y_, cell_h_)};
  }
  std::size_t cell_index(std::uint32_t k) const {
    const auto [x, y] = cell_of(ring_[k].x, ring_[k].y);
    return y * columns_ + x;
  }

  std::span<const RingPoint> ring_;
  std::vector<std::uint32_t>& out_;
  std::uint32_t n_;
  std::vector<std::uint32_t> prev_, next_, candidates_;
  std::vector<bool> removed_, shared_;
  std::size_t columns_ = 1;
  std::int64_t min_x_ = 0, min_y_ = 0, cell_w_ = 1, cell_h_ = 1;
  std::vector<std::size_t> cell_start_;
  std::vector<std::uint32_t> cell_points_;
};

}  // namespace

std::vector<RingPoint> clean_ring(std::span<const std::int32_t> coordinates) {
  std::vector<RingPoint> ring;
  ring.reserve(coordinates.size() / 2);
  // A point is dropped when it repeats the one before or when it lies on the line through its
  // neighbours; dropping one can make its neighbour droppable, so the checks go back as needed.
  auto push = [&ring](const RingPoint& p) {
    if (!ring.empty() && ring.back() == p) return;
    while (ring.size() >= 2 && cross(ring[ring.size() - 2], ring.back(), p) == 0) {
      ring.pop_back();
      if (ring.back() == p) return;
    }
    ring.push_back(p);
  };
  for (std::size_t k = 0; k + 1 < coordinates.size(); k += 2)
    push({coordinates[k], coordinates[k + 1]});
  // Where the ring closes: its last point against its first ones.
  std::size_t front = 0;
  bool changed = true;
  while (changed && ring.size() - front >= 3) {
    changed = false;
    const RingPoint& first = ring[front];
    if (ring.back() == first || cross(ring[ring.size() - 2], ring.back(), first) == 0) {
      ring.pop_back();
      changed = true;
    } else if (cross(ring.back(), first, ring[front + 1]) == 0) {
      ++front;
      changed = true;
    }
  }
  ring.erase(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(front));
  if (ring.size() < 3) return {};
  Wide area = 0;
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const RingPoint& p = ring[i];
    const RingPoint& q = ring[(i + 1) % ring.size()];
    area += cross(p.x, p.y, q.x, q.y);
  }
  if (area == 0) return {};
  if (area < 0) std::reverse(ring.begin(), ring.end());
  return ring;
}

void triangulate_ring(std::span<const RingPoint> ring, std::vector<std::uint32_t>& triangles) {
  const std::uint32_t n = static_cast<std::uint32_t>(ring.size());
  if (n < 3) return;
  if (convex(ring)) {
    for (std::uint32_t i = 1; i + 1 < n; ++i) {
      triangles.push_back(0);
      triangles.push_back(i);
      triangles.push_back(i + 1);
    }
    return;
  }
  EarClipper(ring, triangles).run();
}

}  // namespace tarnwick::depthview::write
