// Extraction on a second thread gives the pool that extraction in place gives, and its first error.
#include "tarnwick/core/depthview/transform/extract_aside.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

using namespace tarnwick::depthview;

namespace {

// A star of `points` points around (x, y) in database units, some of them near-collinear, so that
// the simplification drops some and keeps the rest.
std::vector<std::int64_t> star(std::int64_t x, std::int64_t y, int points) {
  std::vector<std::int64_t> hull;
  for (int i = 0; i < points; ++i) {
    const double angle = 2 * M_PI * i / points;
    const double radius = (i % 3 == 0 ? 5000.0 : 4990.0) + (i % 7);
    hull.push_back(x + std::llround(radius * std::cos(angle)));
    hull.push_back(y + std::llround(radius * std::sin(angle)));
  }
  return hull;
}

std::vector<std::vector<std::int32_t>> contents(const model::PolygonPool& pool) {
  std::vector<std::vector<std::int32_t>> out;
  for (std::size_t k = 0; k < pool.size(); ++k) {
    const auto polygon = pool.polygon(k);
    out.emplace_back(polygon.begin(), polygon.end());
  }
  return out;
}

// The default sizes (the worker alone, then the caller in finish) and tiny ones (the caller
// sharing the batches as it hands them over, batches filed out of order).
const transform::ExtractionAside::Sizes kSizes[] = {{}, {64, 2}};

TEST(ExtractionAside, GivesThePoolOfExtractionInPlaceAcrossManyBatches) {
  for (const auto& sizes : kSizes) {
    transform::PolygonExtractor here(1000.0, 0.01);
    model::PolygonPool expected, pool;
    std::vector<std::int64_t> kept;
    {
      transform::ExtractionAside aside(1000.0, 0.01, pool, sizes);
      for (int n = 0; n < 12000; ++n) {
        const auto hull = star(n * 20000, 7 * n, 8 + n % 40);
        here.extract(hull, kept);
        expected.add(kept);
        aside.add(hull);
      }
      aside.finish();
    }
    EXPECT_EQ(pool.size(), 12000u);
    EXPECT_EQ(contents(pool), contents(expected));
  }
}

TEST(ExtractionAside, HandsBackTheFirstErrorInTheOrderOfTheHulls) {
  const std::int64_t far = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  const std::vector<std::int64_t> bad{0, 0, far, 0, far, far, 0, far};
  for (const auto& sizes : kSizes) {
    model::PolygonPool pool;
    transform::ExtractionAside aside(1000.0, 0.01, pool, sizes);
    try {
      for (int n = 0; n < 300; ++n) aside.add(star(0, 0, 12));
      aside.add(bad);
      for (int n = 0; n < 300; ++n) aside.add(star(0, 0, 12));
    } catch (const model::CoordinateRangeError&) {
      // Handing over may report it already; stop() reports it again.
    }
    // The caller's own failure after it: the extraction's error is the one to raise.
    EXPECT_THROW(std::rethrow_exception(aside.stop()), model::CoordinateRangeError);
    EXPECT_EQ(pool.size(), 300u);
  }
}

}  // namespace
