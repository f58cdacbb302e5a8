#pragma once
// Polygon extraction on a second thread: hulls handed over in order are extracted (simplified)
// there and added to a pool in the same order, while the caller goes on reading the layout. The
// pool is the worker's until finish() or stop() returns. No Python in here.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/transform/extract.hpp"

namespace tarnwick::depthview::transform {

class ExtractionAside {
 public:
  ExtractionAside(double units_per_micrometre, std::optional<double> tolerance,
                  model::PolygonPool& pool);
  // Stops the worker when neither finish() nor stop() did; what it had not extracted is dropped.
  ~ExtractionAside();
  ExtractionAside(const ExtractionAside&) = delete;
  ExtractionAside& operator=(const ExtractionAside&) = delete;

  // Hands one hull over (database units, x, y pairs, not closed). Rethrows the worker's error as
  // soon as it has one: it belongs to a hull handed over earlier.
  void add(std::span<const std::int64_t> hull);
  // Waits until every hull handed over is in the pool; rethrows the worker's error.
  void finish();
  // The same, for a caller that failed itself: the worker's error, if any, to be raised instead
  // of the caller's own (it came first).
  std::exception_ptr stop();

 private:
  struct Batch {
    std::vector<std::int64_t> coordinates;
    std::vector<std::uint32_t> sizes;  // coordinates per hull
  };

  void hand_over();
  void join();
  void run();

  PolygonExtractor extractor_;
  model::PolygonPool& pool_;
  Batch filling_;
  std::deque<Batch> queue_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closing_ = false;
  bool dropping_ = false;
  std::exception_ptr error_;
  std::thread worker_;
};

}  // namespace tarnwick::depthview::transform
