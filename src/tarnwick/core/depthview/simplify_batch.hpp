#pragma once
// Simplification of many rings at once, on every core, while the parse goes on. No Python here.
//
// The native scene path hands the scaled hulls of a parse to this batch as it extracts them. Rings
// are grouped into chunks; as soon as a chunk is full, helper threads (one per further core) take
// it and simplify its rings, each helper with its own Simplifier (its own reentrant GEOS context),
// while the parsing thread goes on extracting. flush() simplifies what is left, with the parsing
// thread joining in, waits for the helpers and puts the results into the polygon pool in the order
// the rings were added, so the pool is exactly what simplifying one ring after the other gives.
// When rings fail, the failure of the first of them (in adding order) is thrown, as one-by-one
// simplification would have thrown it first.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tarnwick/core/depthview/polygon_pool.hpp"
#include "tarnwick/core/depthview/simplify.hpp"

namespace tarnwick::depthview {

class SimplifyBatch {
 public:
  SimplifyBatch() = default;
  ~SimplifyBatch();
  SimplifyBatch(const SimplifyBatch&) = delete;
  SimplifyBatch& operator=(const SimplifyBatch&) = delete;

  // Adds a ring (in micrometres, not closed) to simplify with `tolerance`. All rings between two
  // flushes must have the same tolerance.
  void add(const Ring& points, double tolerance);
  bool empty() const { return chunks_.empty(); }
  double tolerance() const { return tolerance_; }

  // Simplifies every ring added since the last flush and appends each result, without its closing
  // point when that equals the first, to `pool`. Throws the SimplifyError of the first failing
  // ring; the batch is empty and its helpers are stopped afterwards in either case.
  void flush(PolygonPool& pool);

 private:
  struct Outcome {
    Ring ring;
    std::optional<SimplifyError> error;
  };
  struct Chunk {
    std::vector<std::array<double, 2>> points;
    std::vector<std::size_t> starts{0};
    std::vector<Outcome> outcomes;
    std::size_t size() const { return starts.size() - 1; }
  };

  // Hands the chunk being filled to the helpers.
  void publish();
  // Simplifies queued chunks until the queue is empty (and, for helpers, until told to stop).
  void work(bool helper);
  void simplify_chunk(Chunk& chunk, Simplifier& simplifier, Ring& shell) const;
  // Stops and joins the helpers.
  void stop();

  double tolerance_ = 0;
  std::deque<std::unique_ptr<Chunk>> chunks_;  // every chunk since the last flush, in order
  Chunk* filling_ = nullptr;                   // the last chunk, not yet published

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Chunk*> queue_;  // published chunks nobody has taken yet
  bool stopping_ = false;
  std::vector<std::thread> helpers_;
  std::vector<std::exception_ptr> failures_;  // what helpers met besides simplification errors
};

}  // namespace tarnwick::depthview
