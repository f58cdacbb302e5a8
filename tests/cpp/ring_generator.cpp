#include "ring_generator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tarnwick::testing {

namespace {

using Point = std::array<double, 2>;
constexpr double kPi = std::numbers::pi;

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ULL;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

// splitmix64: small, fast and the same everywhere (unlike the standard distributions).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() { return mix(state_ += 0x9e3779b97f4a7c15ULL); }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  double uniform(double low, double high) { return low + (high - low) * uniform(); }
  double log_uniform(double low, double high) { return low * std::pow(high / low, uniform()); }
  int integer(int low, int high) {  // inclusive
    return low + static_cast<int>(next() % static_cast<std::uint64_t>(high - low + 1));
  }
  bool chance(double p) { return uniform() < p; }
  double angle() { return uniform(0.0, 2 * kPi); }

 private:
  std::uint64_t state_;
};

// Appends points, optionally on the 1 nm grid of a layout database (coordinates in micrometres).
struct Outline {
  std::vector<Point>& points;
  bool snap;
  void add(double x, double y) {
    if (snap) x = std::round(x * 1000.0) / 1000.0, y = std::round(y * 1000.0) / 1000.0;
    points.push_back({x, y});
  }
  void arc(double cx, double cy, double radius, double from, double sweep, int steps) {
    for (int k = 0; k <= steps; ++k) {
      const double a = from + sweep * k / steps;
      add(cx + radius * std::cos(a), cy + radius * std::sin(a));
    }
  }
};

// A random point count between low and high, denser at the low end.
int count(Random& random, int low, int high) {
  return static_cast<int>(std::floor(random.log_uniform(low, high + 1.0)));
}

void circle(Random& random, Outline& out, double tolerance) {
  const double radius = random.log_uniform(0.002, 2000.0);
  int n = count(random, 3, 600);
  if (random.chance(0.01)) n = random.integer(1000, 5000);
  if (random.chance(0.0005)) n = 20000;
  const double cx = random.uniform(-1000, 1000), cy = random.uniform(-1000, 1000);
  // Regular polygons by sweep; sometimes the radius is chosen so the sagitta is near the tolerance.
  const double r = random.chance(0.3) && tolerance > 0
                       ? tolerance * random.uniform(0.5, 2.0) / (1 - std::cos(kPi / n))
                       : radius;
  out.arc(cx, cy, r, random.angle(), 2 * kPi * (n - 1) / n, n - 1);
}

// The smallest altitude of the triangles of three consecutive points of the open outline.
double smallest_altitude(const std::vector<Point>& points) {
  double smallest = std::numeric_limits<double>::infinity();
  for (std::size_t k = 1; k + 1 < points.size(); ++k) {
    const Point &p = points[k - 1], &q = points[k], &r = points[k + 1];
    const double ux = q[0] - p[0], uy = q[1] - p[1], vx = r[0] - q[0], vy = r[1] - q[1];
    const double wx = r[0] - p[0], wy = r[1] - p[1];
    const double longest =
        std::sqrt(std::max({ux * ux + uy * uy, vx * vx + vy * vy, wx * wx + wy * wy}));
    smallest = std::min(smallest, std::fabs(ux * vy - uy * vx) / longest);
  }
  return smallest;
}

// A few random points (a convex outline on an ellipse, or points anywhere, crossing), its
// tolerance a hair either side of half or all of its smallest triangle's altitude: the lines the
// native path's every-point-kept test draws.
void at_the_line(Random& random, Outline& out, double& tolerance) {
  const int n = random.integer(3, 30);
  const double scale = random.log_uniform(0.01, 10000.0);
  if (random.chance(0.5)) {
    std::vector<double> angles;
    for (int i = 0; i < n; ++i) angles.push_back(random.angle());
    std::sort(angles.begin(), angles.end());
    const double ry = scale * random.uniform(0.05, 1.0);
    for (const double a : angles) out.add(scale * std::cos(a), ry * std::sin(a));
  } else {
    for (int i = 0; i < n; ++i) out.add(random.uniform(0, scale), random.uniform(0, scale));
  }
  std::vector<Point> closed = out.points;
  closed.push_back(closed.front());
  closed.push_back(closed[1]);
  const double altitude = smallest_altitude(closed);
  if (altitude > 0 && std::isfinite(altitude)) {
    tolerance = altitude * (random.chance(0.5) ? 0.5 : 1.0) * (1 + random.uniform(-1e-6, 1e-6));
  }
}

// A regular polygon whose three consecutive points make a triangle about one or two tolerances
// tall (r (1 - cos(2 pi / n))), where the native path's every-point-kept test draws its lines;
// sometimes one point is pulled in, so that the ring is no longer convex.
void regular_polygon(Random& random, Outline& out, double tolerance) {
  const int n = count(random, 3, 400);
  const double tall = (tolerance > 0 ? tolerance : 0.01) * random.uniform(0.8, 2.5);
  const double r = tall / (1 - std::cos(2 * kPi / n));
  const double cx = random.uniform(-1000, 1000), cy = random.uniform(-1000, 1000);
  const std::size_t first = out.points.size();
  out.arc(cx, cy, r, random.angle(), 2 * kPi * (n - 1) / n, n - 1);
  if (random.chance(0.3)) {
    Point& p = out.points[first + static_cast<std::size_t>(random.integer(0, n - 1))];
    const double x = cx + (p[0] - cx) * random.uniform(0.9, 0.9999);
    p = {x, cy + (p[1] - cy) * random.uniform(0.9, 0.9999)};
  }
}

void arc_band(Random& random, Outline& out) {
  const double outer = random.log_uniform(0.05, 500.0);
  const double inner = outer * random.uniform(0.1, 0.98);
  const double from = random.angle(), sweep = random.uniform(0.1, 2 * kPi * 0.98);
  const int steps = count(random, 2, 200);
  const double cx = random.uniform(-500, 500), cy = random.uniform(-500, 500);
  out.arc(cx, cy, outer, from, sweep, steps);
  out.arc(cx, cy, inner, from + sweep, -sweep, random.chance(0.5) ? steps : count(random, 1, 200));
}

void rounded_rectangle(Random& random, Outline& out) {
  const double w = random.log_uniform(0.01, 500), h = random.log_uniform(0.01, 500);
  const double radius = std::min(w, h) / 2 * random.uniform(0.05, 1.0);
  const int steps = count(random, 1, 40);
  const double x = random.uniform(-500, 500), y = random.uniform(-500, 500);
  out.arc(x + w - radius, y + radius, radius, -kPi / 2, kPi / 2, steps);
  out.arc(x + w - radius, y + h - radius, radius, 0, kPi / 2, steps);
  out.arc(x + radius, y + h - radius, radius, kPi / 2, kPi / 2, steps);
  out.arc(x + radius, y + radius, radius, kPi, kPi / 2, steps);
}

// A straight run of `steps` segments from (x0, y0) to (x1, y1), without its last point; inner
// points moved sideways by up to `jitter`.
void run(Random& random, Outline& out, double x0, double y0, double x1, double y1, int steps,
         double jitter) {
  const double length = std::hypot(x1 - x0, y1 - y0);
  const double nx = length > 0 ? -(y1 - y0) / length : 0, ny = length > 0 ? (x1 - x0) / length : 0;
  for (int k = 0; k < steps; ++k) {
    const double t = static_cast<double>(k) / steps;
    const double side = k == 0 ? 0.0 : random.uniform(-jitter, jitter);
    out.add(x0 + (x1 - x0) * t + nx * side, y0 + (y1 - y0) * t + ny * side);
  }
}

void taper(Random& random, Outline& out, double tolerance) {
  const double length = random.log_uniform(0.1, 1000), w1 = random.log_uniform(0.01, 20),
               w2 = random.log_uniform(0.01, 20);
  const double angle = random.chance(0.5) ? kPi / 4 * random.integer(0, 7) : random.angle();
  const double c = std::cos(angle), s = std::sin(angle);
  const double x = random.uniform(-500, 500), y = random.uniform(-500, 500);
  auto at = [&](double u, double v) { return Point{x + u * c - v * s, y + u * s + v * c}; };
  const double jitter = random.chance(0.5) ? tolerance * random.uniform(0, 2) : 0.0;
  const int steps = count(random, 1, 100);
  const Point a = at(0, -w1 / 2), b = at(length, -w2 / 2), d = at(length, w2 / 2),
              e = at(0, w1 / 2);
  run(random, out, a[0], a[1], b[0], b[1], steps, jitter);
  run(random, out, b[0], b[1], d[0], d[1], 1, 0);
  run(random, out, d[0], d[1], e[0], e[1], steps, jitter);
  run(random, out, e[0], e[1], a[0], a[1], 1, 0);
}

// A staircase outline: columns of random heights over a base, with steps of all sizes (some near
// the tolerance) and sometimes redundant points along the edges.
void manhattan(Random& random, Outline& out) {
  const int columns = count(random, 1, 40);
  const double scale = random.log_uniform(0.005, 50);
  const double x0 = random.uniform(-500, 500), y0 = random.uniform(-500, 500);
  const bool redundant = random.chance(0.3);
  auto step = [&] { return scale * (random.chance(0.2) ? random.uniform(0.001, 0.05) : 1.0); };
  std::vector<double> xs{x0}, heights;
  for (int k = 0; k < columns; ++k) {
    xs.push_back(xs.back() + step() * random.uniform(0.2, 3));
    heights.push_back(y0 + step() * random.uniform(0.5, 5));
  }
  auto edge = [&](double xa, double ya, double xb, double yb) {
    run(random, out, xa, ya, xb, yb, redundant ? random.integer(1, 3) : 1, 0);
  };
  edge(x0, y0 - scale, xs.back(), y0 - scale);
  edge(xs.back(), y0 - scale, xs.back(), heights.back());
  for (int k = columns - 1; k >= 0; --k) {
    edge(xs[k + 1], heights[k], xs[k], heights[k]);
    const double next = k > 0 ? heights[k - 1] : y0 - scale;
    edge(xs[k], heights[k], xs[k], next);
  }
}

void wiggle(Random& random, Outline& out, double tolerance) {
  const double length = random.log_uniform(0.05, 200), height = random.log_uniform(0.01, 50);
  const double amplitude = (tolerance > 0 ? tolerance : 0.01) * random.log_uniform(0.05, 20);
  const double waves = random.integer(1, 50);
  const int steps = count(random, 8, 400);
  const double x = random.uniform(-500, 500), y = random.uniform(-500, 500);
  out.add(x, y);
  out.add(x + length, y);
  for (int k = 0; k <= steps; ++k) {
    const double u = length * (1.0 - static_cast<double>(k) / steps);
    out.add(x + u, y + height + amplitude * std::sin(2 * kPi * waves * u / length));
  }
}

// A band wound as a spiral; the gap between turns is sometimes near the tolerance, where
// flattening one turn could cut into the next.
void spiral(Random& random, Outline& out, double tolerance) {
  const double base = tolerance > 0 ? tolerance : 0.01;
  const double pitch = base * random.log_uniform(0.5, 100);
  const double width = pitch * random.uniform(0.2, 0.95);
  const double start = pitch * random.uniform(1, 10);
  const double turns = random.uniform(1.2, 6);
  const int per_turn = random.integer(6, 64);
  const int steps = static_cast<int>(turns * per_turn);
  const double cx = random.uniform(-100, 100), cy = random.uniform(-100, 100);
  const double phase = random.angle();
  auto point = [&](int k, double offset) {
    const double t = 2 * kPi * turns * k / steps;
    const double r = start + pitch * t / (2 * kPi) + offset;
    out.add(cx + r * std::cos(phase + t), cy + r * std::sin(phase + t));
  };
  for (int k = 0; k <= steps; ++k) point(k, width / 2);
  for (int k = steps; k >= 0; --k) point(k, -width / 2);
}

// A thin strip whose long sides are runs of nearly collinear points.
void collinear(Random& random, Outline& out, double tolerance) {
  const double base = tolerance > 0 ? tolerance : 0.01;
  const double length = random.log_uniform(0.01, 100);
  const double thickness = base * random.log_uniform(0.1, 100);
  const double angle = random.chance(0.5) ? kPi / 4 * random.integer(0, 7) : random.angle();
  const double c = std::cos(angle), s = std::sin(angle);
  const double x = random.uniform(-500, 500), y = random.uniform(-500, 500);
  const double jitter = random.chance(0.3) ? 0.0 : base * random.log_uniform(0.01, 3);
  const int steps = count(random, 2, 200);
  auto at = [&](double u, double v) { return Point{x + u * c - v * s, y + u * s + v * c}; };
  const Point a = at(0, 0), b = at(length, 0), d = at(length, thickness), e = at(0, thickness);
  run(random, out, a[0], a[1], b[0], b[1], steps, jitter);
  run(random, out, b[0], b[1], d[0], d[1], 1, 0);
  run(random, out, d[0], d[1], e[0], e[1], random.chance(0.5) ? steps : count(random, 1, 50),
      jitter);
  run(random, out, e[0], e[1], a[0], a[1], 1, 0);
}

void star(Random& random, Outline& out, double radius, bool crossing) {
  const int n = count(random, 3, 100);
  const double cx = random.uniform(-100, 100), cy = random.uniform(-100, 100);
  std::vector<double> angles(n);
  for (double& a : angles) a = random.angle();
  if (!crossing) std::sort(angles.begin(), angles.end());
  for (double a : angles) {
    const double r = radius * random.uniform(0.2, 1.0);
    out.add(cx + r * std::cos(a), cy + r * std::sin(a));
  }
}

void random_walk(Random& random, Outline& out) {
  const int n = count(random, 3, 80);
  const double stride = random.log_uniform(0.001, 10);
  double x = random.uniform(-100, 100), y = random.uniform(-100, 100);
  for (int k = 0; k < n; ++k) {
    out.add(x, y);
    x += random.uniform(-stride, stride);
    y += random.uniform(-stride, stride);
  }
}

// Outlines that touch themselves: a keyhole (the slit's two sides coincide), a vertex on another
// edge, repeated points, a spike out and back, a bow tie.
void self_touching(Random& random, Outline& out) {
  const double s = random.log_uniform(0.02, 100);
  const double x = random.uniform(-100, 100), y = random.uniform(-100, 100);
  switch (random.integer(0, 4)) {
    case 0: {  // keyhole
      const double m = s * random.uniform(0.3, 0.7), a = s * random.uniform(0.1, 0.4);
      const double hole = s * random.uniform(0.05, 0.25);
      for (auto [u, v] : {std::array{m, 0.0},
                          {s, 0.0},
                          {s, s},
                          {0.0, s},
                          {0.0, 0.0},
                          {m, 0.0},
                          {m, a},
                          {m - hole, a},
                          {m - hole, a + hole},
                          {m + hole, a + hole},
                          {m + hole, a},
                          {m, a}}) {
        out.add(x + u, y + v);
      }
      break;
    }
    case 1: {  // a vertex on the first edge
      const double t = random.uniform(0.2, 0.8);
      for (auto [u, v] : {std::array{0.0, 0.0}, {s, 0.0}, {s, s}, {s * t, 0.0}, {0.0, s}}) {
        out.add(x + u, y + v);
      }
      break;
    }
    case 2: {  // repeated points on a circle
      const int n = count(random, 4, 100);
      for (int k = 0; k < n; ++k) {
        const double a = 2 * kPi * k / n;
        const int copies = random.chance(0.2) ? random.integer(2, 3) : 1;
        for (int c = 0; c < copies; ++c) out.add(x + s * std::cos(a), y + s * std::sin(a));
      }
      break;
    }
    case 3: {  // a spike out of a circle and back along the same line
      const int n = count(random, 4, 100);
      const int at = random.integer(0, n - 1);
      for (int k = 0; k < n; ++k) {
        const double a = 2 * kPi * k / n;
        out.add(x + s * std::cos(a), y + s * std::sin(a));
        if (k == at) {
          const double reach = s * random.uniform(0.001, 2);
          out.add(x + (s + reach) * std::cos(a), y + (s + reach) * std::sin(a));
          if (random.chance(0.5)) {
            out.add(x + (s + reach / 2) * std::cos(a), y + (s + reach / 2) * std::sin(a));
          }
          out.add(x + s * std::cos(a), y + s * std::sin(a));
        }
      }
      break;
    }
    default: {  // bow tie, with points along its crossing edges
      const int steps = random.integer(1, 20);
      run(random, out, x, y, x + s, y + s, steps, 0);
      run(random, out, x + s, y + s, x + s, y, 1, 0);
      run(random, out, x + s, y, x, y + s, steps, 0);
      run(random, out, x, y + s, x, y, 1, 0);
    }
  }
}

// Outlines whose parts come within about the tolerance of each other: a C whose ends nearly meet,
// a comb with narrow gaps, a keyhole with a narrow slit.
void near_touching(Random& random, Outline& out, double tolerance) {
  const double base = tolerance > 0 ? tolerance : 0.01;
  const double gap = base * random.log_uniform(0.05, 5);
  const double x = random.uniform(-100, 100), y = random.uniform(-100, 100);
  switch (random.integer(0, 2)) {
    case 0: {  // a C
      const double outer = random.log_uniform(0.05, 50), inner = outer * random.uniform(0.3, 0.9);
      const double sweep = 2 * kPi - gap / outer;
      const int steps = count(random, 8, 200);
      out.arc(x, y, outer, 0, sweep, steps);
      out.arc(x, y, inner, sweep, -sweep, steps);
      break;
    }
    case 1: {  // a comb
      const int teeth = random.integer(2, 20);
      const double tooth = base * random.log_uniform(0.5, 50), depth = random.log_uniform(0.05, 20);
      const int steps = random.integer(1, 8);
      double u = x;
      out.add(u, y - depth);
      for (int k = 0; k < teeth; ++k) {
        run(random, out, u, y, u, y + depth, steps, gap);
        run(random, out, u, y + depth, u + tooth, y + depth, 1, 0);
        run(random, out, u + tooth, y + depth, u + tooth, y, steps, gap);
        u += tooth;
        if (k + 1 < teeth) out.add(u, y), u += gap;
      }
      out.add(u, y - depth);
      break;
    }
    default: {  // a keyhole with a slit of width `gap`
      const double s = random.log_uniform(0.05, 50), m = s / 2, a = s * random.uniform(0.1, 0.4);
      const double hole = s * random.uniform(0.05, 0.25);
      for (auto [u, v] : {std::array{m + gap / 2, 0.0},
                          {s, 0.0},
                          {s, s},
                          {0.0, s},
                          {0.0, 0.0},
                          {m - gap / 2, 0.0},
                          {m - gap / 2, a},
                          {m - hole, a},
                          {m - hole, a + hole},
                          {m + hole, a + hole},
                          {m + hole, a},
                          {m + gap / 2, a}}) {
        out.add(x + u, y + v);
      }
    }
  }
}

struct KindEntry {
  std::string_view name;
  int weight;
};

const std::vector<KindEntry>& kind_table() {
  static const std::vector<KindEntry> table{
      {"circle", 15},       {"arc_band", 8},      {"rounded_rectangle", 8},
      {"taper", 6},         {"manhattan", 10},    {"wiggle", 6},
      {"spiral", 6},        {"collinear", 6},     {"tiny", 4},
      {"self_touching", 6}, {"near_touching", 6}, {"star", 5},
      {"random_walk", 3},   {"huge", 6},          {"regular_polygon", 6},
      {"at_the_line", 4},
  };
  return table;
}

double draw_tolerance(Random& random) {
  static constexpr std::array<double, 9> others{0.0,  1e-12, 1e-6, 0.001, 0.005,
                                                0.05, 0.3,   3.0,  100};
  if (random.chance(0.55)) return 0.01;
  return others[random.integer(0, static_cast<int>(others.size()) - 1)];
}

void shape(std::string_view kind, Random& random, Outline& out, double tolerance) {
  if (kind == "circle") return circle(random, out, tolerance);
  if (kind == "regular_polygon") return regular_polygon(random, out, tolerance);
  if (kind == "arc_band") return arc_band(random, out);
  if (kind == "rounded_rectangle") return rounded_rectangle(random, out);
  if (kind == "taper") return taper(random, out, tolerance);
  if (kind == "manhattan") return manhattan(random, out);
  if (kind == "wiggle") return wiggle(random, out, tolerance);
  if (kind == "spiral") return spiral(random, out, tolerance);
  if (kind == "collinear") return collinear(random, out, tolerance);
  if (kind == "tiny") {
    return star(random, out, (tolerance > 0 ? tolerance : 0.01) * random.log_uniform(0.01, 1.5),
                random.chance(0.2));
  }
  if (kind == "self_touching") return self_touching(random, out);
  if (kind == "near_touching") return near_touching(random, out, tolerance);
  if (kind == "star") return star(random, out, random.log_uniform(0.01, 100), random.chance(0.3));
  return random_walk(random, out);
}

}  // namespace

const std::vector<std::string_view>& ring_kinds() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> result;
    for (const KindEntry& entry : kind_table()) result.push_back(entry.name);
    return result;
  }();
  return names;
}

void generate_ring(std::uint64_t seed, std::uint64_t index, GeneratedRing& ring) {
  Random random(mix(seed * 0x2545f4914f6cdd1dULL + index));
  int total = 0;
  for (const KindEntry& entry : kind_table()) total += entry.weight;
  int pick = random.integer(0, total - 1);
  std::string_view kind;
  for (const KindEntry& entry : kind_table()) {
    if (pick < entry.weight) {
      kind = entry.name;
      break;
    }
    pick -= entry.weight;
  }
  ring.kind = kind;
  ring.tolerance = draw_tolerance(random);
  ring.points.clear();
  Outline out{ring.points, random.chance(0.7)};
  if (kind == "huge") {
    // A layout-like shape far from the origin, or the whole ring and tolerance scaled to extreme
    // magnitudes (still below the refusal limit).
    static constexpr std::array<std::string_view, 4> bases{"circle", "rounded_rectangle",
                                                           "manhattan", "arc_band"};
    shape(bases[random.integer(0, 3)], random, out, ring.tolerance);
    if (random.chance(0.85)) {
      const double dx = std::pow(10.0, random.uniform(4, 12)) * (random.chance(0.5) ? 1 : -1);
      const double dy = std::pow(10.0, random.uniform(4, 12)) * (random.chance(0.5) ? 1 : -1);
      for (Point& p : ring.points) {
        p = out.snap ? Point{std::round((p[0] + dx) * 1000) / 1000,
                             std::round((p[1] + dy) * 1000) / 1000}
                     : Point{p[0] + dx, p[1] + dy};
      }
    } else {
      const double scale =
          std::pow(10.0, random.chance(0.5) ? random.uniform(100, 140) : -random.uniform(100, 140));
      for (Point& p : ring.points) p = {p[0] * scale, p[1] * scale};
      ring.tolerance *= scale;
    }
  } else if (kind == "at_the_line") {
    at_the_line(random, out, ring.tolerance);
  } else {
    shape(kind, random, out, ring.tolerance);
  }
  if (ring.points.empty()) ring.points.push_back({0.0, 0.0});
  while (ring.points.size() < 3) ring.points.push_back(ring.points.back());
  ring.points.push_back(ring.points.front());
}

}  // namespace tarnwick::testing
