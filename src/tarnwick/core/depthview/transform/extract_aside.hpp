#pragma once
// Polygon extraction shared with a second thread: hulls handed over in order are extracted
// (simplified) in batches by a worker, and by the caller too when the worker is far behind and in
// finish(); the batches are added to the pool strictly in the order they were handed over, so the
// pool and the first error are those of extraction in place. The pool is the extraction's until
// finish() or stop() returns. The caller may do other work between its last add() and finish():
// the worker goes on meanwhile. No Python in here.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/transform/extract.hpp"

namespace tarnwick::depthview::transform {

// How hulls travel: a batch is handed over at `batch_coordinates` coordinates, and up to
// `waiting_batches` may wait (by default 64 MiB), so that the reader runs ahead of the worker and
// the rest is extracted while the caller does other work (frees the layout). Beyond that the
// caller extracts the oldest waiting batch itself.
struct ExtractionAsideSizes {
  std::size_t batch_coordinates = std::size_t{1} << 15;
  std::size_t waiting_batches = 512;
};

class ExtractionAside {
 public:
  using Sizes = ExtractionAsideSizes;

  ExtractionAside(double units_per_micrometre, std::optional<double> tolerance,
                  model::PolygonPool& pool, Sizes sizes = Sizes());
  // Stops the worker when neither finish() nor stop() did; what was not extracted is dropped.
  ~ExtractionAside();
  ExtractionAside(const ExtractionAside&) = delete;
  ExtractionAside& operator=(const ExtractionAside&) = delete;

  // Hands one hull over (database units, x, y pairs, not closed). Rethrows the extraction's error
  // as soon as there is one: it belongs to a hull handed over earlier.
  void add(std::span<const std::int64_t> hull);
  // Waits until every hull handed over is in the pool, extracting on this thread too; rethrows
  // the extraction's error.
  void finish();
  // The same, for a caller that failed itself: the extraction's error, if any, to be raised
  // instead of the caller's own (it came first).
  std::exception_ptr stop();

 private:
  struct Batch {
    std::uint64_t number = 0;              // in the order handed over
    std::vector<std::int32_t> coordinates;  // the hulls, when they fit 32 bits (most do)
    std::vector<std::int64_t> wide;         // else the batch's one hull
    std::vector<std::uint32_t> sizes;       // coordinates per hull
    std::vector<std::int64_t> kept;         // the extracted polygons, one after the other
    std::vector<std::uint32_t> kept_sizes;  // coordinates per extracted polygon
    std::exception_ptr error;               // the failure of hull kept_sizes.size(), if any
  };

  void hand_over();
  // Takes the oldest waiting batch, extracts it with `extractor` outside the lock, then files it
  // and adds what is next in order to the pool. Called and returns with `lock` held.
  void extract_oldest(PolygonExtractor& extractor, std::unique_lock<std::mutex>& lock);
  void add_ready_batches();  // with the lock held
  void complete();
  void run();

  Sizes sizes_;
  PolygonExtractor worker_extractor_;
  PolygonExtractor caller_extractor_;
  model::PolygonPool& pool_;
  Batch filling_;
  std::uint64_t handed_over_ = 0;        // batches handed over so far
  std::deque<Batch> waiting_;            // handed over, not started
  std::map<std::uint64_t, Batch> done_;  // extracted, waiting for an earlier batch
  std::uint64_t next_to_add_ = 0;        // the number of the next batch the pool takes
  std::size_t extracting_ = 0;           // batches taken from waiting_ and not yet filed
  std::mutex mutex_;
  std::condition_variable changed_;
  bool closing_ = false;
  bool dropping_ = false;
  std::exception_ptr error_;  // the first failure in order; nothing after it is added
  std::thread worker_;
};

}  // namespace tarnwick::depthview::transform
