#include "tarnwick/core/depthview/simplify_batch.hpp"

#include <algorithm>

namespace tarnwick::depthview {

namespace {

// Rings per chunk: large enough that handing chunks over costs nothing, small enough that the
// helpers start early and share the work evenly.
constexpr std::size_t kChunk = 128;

}  // namespace

SimplifyBatch::~SimplifyBatch() { stop(); }

void SimplifyBatch::add(const Ring& points, double tolerance) {
  tolerance_ = tolerance;
  if (filling_ == nullptr) {
    chunks_.push_back(std::make_unique<Chunk>());
    filling_ = chunks_.back().get();
  }
  filling_->points.insert(filling_->points.end(), points.begin(), points.end());
  filling_->starts.push_back(filling_->points.size());
  if (filling_->size() == kChunk) publish();
}

void SimplifyBatch::publish() {
  if (filling_ == nullptr) return;
  Chunk* chunk = filling_;
  filling_ = nullptr;
  chunk->outcomes.resize(chunk->size());
  {
    std::lock_guard<std::mutex> hold(lock_);
    queue_.push_back(chunk);
    if (helpers_.empty()) {
      const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
      stopping_ = false;
      for (unsigned t = 1; t < cores; ++t) helpers_.emplace_back([this] { work(true); });
    }
  }
  wake_.notify_one();
}

void SimplifyBatch::simplify_chunk(Chunk& chunk, Simplifier& simplifier, Ring& shell) const {
  for (std::size_t i = 0; i < chunk.size(); ++i) {
    shell.assign(chunk.points.begin() + static_cast<std::ptrdiff_t>(chunk.starts[i]),
                 chunk.points.begin() + static_cast<std::ptrdiff_t>(chunk.starts[i + 1]));
    try {
      simplifier.simplify(shell, tolerance_, chunk.outcomes[i].ring);
    } catch (const SimplifyError& error) {
      chunk.outcomes[i].error = error;
    }
  }
}

void SimplifyBatch::work(bool helper) {
  try {
    Simplifier simplifier;
    Ring shell;
    for (;;) {
      Chunk* chunk = nullptr;
      {
        std::unique_lock<std::mutex> hold(lock_);
        if (helper) wake_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, or nothing left for the flushing thread
        chunk = queue_.front();
        queue_.pop_front();
      }
      simplify_chunk(*chunk, simplifier, shell);
    }
  } catch (...) {
    std::lock_guard<std::mutex> hold(lock_);
    failures_.push_back(std::current_exception());
  }
}

void SimplifyBatch::stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
  helpers_.clear();
}

void SimplifyBatch::flush(PolygonPool& pool) {
  publish();
  work(false);  // the flushing thread takes what is still queued
  stop();       // helpers finish the chunks they hold, then leave
  std::deque<std::unique_ptr<Chunk>> chunks;
  chunks.swap(chunks_);
  queue_.clear();
  std::vector<std::exception_ptr> failures;
  failures.swap(failures_);
  if (!failures.empty()) std::rethrow_exception(failures.front());
  for (const auto& chunk : chunks) {
    for (Outcome& outcome : chunk->outcomes) {
      if (outcome.error) throw *outcome.error;
      Ring& ring = outcome.ring;
      if (ring.front() == ring.back()) ring.pop_back();
      pool.add(ring);
    }
  }
}

}  // namespace tarnwick::depthview
