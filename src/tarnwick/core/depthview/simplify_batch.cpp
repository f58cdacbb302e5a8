#include "tarnwick/core/depthview/simplify_batch.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

namespace tarnwick::depthview {

namespace {

// Rings per claim of a worker: large enough that claiming costs nothing, small enough to balance.
constexpr std::size_t kChunk = 64;

}  // namespace

void SimplifyBatch::run(std::vector<Outcome>& outcomes, std::atomic<std::size_t>& next,
                        double tolerance, std::size_t count) const {
  Simplifier simplifier;
  Ring shell;
  for (;;) {
    const std::size_t begin = next.fetch_add(kChunk);
    if (begin >= count) return;
    const std::size_t end = std::min(count, begin + kChunk);
    for (std::size_t i = begin; i < end; ++i) {
      shell.assign(points_.begin() + static_cast<std::ptrdiff_t>(starts_[i]),
                   points_.begin() + static_cast<std::ptrdiff_t>(starts_[i + 1]));
      try {
        simplifier.simplify(shell, tolerance, outcomes[i].ring);
      } catch (const SimplifyError& error) {
        outcomes[i].error = error;
      }
    }
  }
}

void SimplifyBatch::flush(double tolerance, PolygonPool& pool) {
  const std::size_t count = starts_.size() - 1;
  std::vector<Outcome> outcomes(count);
  std::atomic<std::size_t> next{0};
  // Anything else a worker meets (out of memory) ends the batch and is rethrown here.
  std::vector<std::exception_ptr> failures;
  std::mutex failures_lock;
  auto work = [&]() {
    try {
      run(outcomes, next, tolerance, count);
    } catch (...) {
      std::lock_guard<std::mutex> hold(failures_lock);
      failures.push_back(std::current_exception());
      next.store(count);
    }
  };
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t threads = std::min(cores, (count + 4 * kChunk - 1) / (4 * kChunk));
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  if (!failures.empty()) {
    points_.clear();
    starts_.assign(1, 0);
    std::rethrow_exception(failures.front());
  }

  points_.clear();
  starts_.assign(1, 0);
  for (Outcome& outcome : outcomes) {
    if (outcome.error) throw *outcome.error;
    Ring& ring = outcome.ring;
    if (ring.front() == ring.back()) ring.pop_back();
    pool.add(ring);
  }
}

}  // namespace tarnwick::depthview
