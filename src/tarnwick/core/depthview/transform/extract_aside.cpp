#include "tarnwick/core/depthview/transform/extract_aside.hpp"

#include <utility>

namespace tarnwick::depthview::transform {

namespace {

// A batch is handed over at this many coordinates; at most this many batches wait, so that a
// worker behind the reader holds the reader back instead of the memory growing.
constexpr std::size_t kBatchCoordinates = std::size_t{1} << 15;
constexpr std::size_t kQueuedBatches = 8;

}  // namespace

ExtractionAside::ExtractionAside(double units_per_micrometre, std::optional<double> tolerance,
                                 model::PolygonPool& pool)
    : extractor_(units_per_micrometre, tolerance), pool_(pool), worker_([this] { run(); }) {}

ExtractionAside::~ExtractionAside() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    closing_ = dropping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void ExtractionAside::add(std::span<const std::int64_t> hull) {
  filling_.coordinates.insert(filling_.coordinates.end(), hull.begin(), hull.end());
  filling_.sizes.push_back(static_cast<std::uint32_t>(hull.size()));
  if (filling_.coordinates.size() >= kBatchCoordinates) hand_over();
}

void ExtractionAside::hand_over() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return error_ || queue_.size() < kQueuedBatches; });
  if (error_) std::rethrow_exception(error_);
  queue_.push_back(std::move(filling_));
  filling_ = Batch();
  lock.unlock();
  changed_.notify_all();
}

void ExtractionAside::join() {
  {
    std::lock_guard lock(mutex_);
    if (!filling_.sizes.empty() && !error_) queue_.push_back(std::move(filling_));
    filling_ = Batch();
    closing_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void ExtractionAside::finish() {
  join();
  if (error_) std::rethrow_exception(error_);
}

std::exception_ptr ExtractionAside::stop() {
  join();
  return error_;
}

void ExtractionAside::run() {
  std::vector<std::int64_t> kept;
  for (;;) {
    Batch batch;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return closing_ || !queue_.empty(); });
      if (queue_.empty() || dropping_) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    changed_.notify_all();
    try {
      std::size_t offset = 0;
      for (const std::uint32_t size : batch.sizes) {
        extractor_.extract(std::span<const std::int64_t>(batch.coordinates.data() + offset, size),
                           kept);
        pool_.add(kept);
        offset += size;
      }
    } catch (...) {
      {
        std::lock_guard lock(mutex_);
        error_ = std::current_exception();
      }
      changed_.notify_all();
      return;
    }
  }
}

}  // namespace tarnwick::depthview::transform
