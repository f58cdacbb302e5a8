#include "tarnwick/core/depthview/transform/extract_aside.hpp"

#include <limits>
#include <utility>

namespace tarnwick::depthview::transform {

namespace {

// Beyond this many batches extracted but held for an earlier one (a batch the worker is still
// on), the caller waits rather than extracting more, so memory stays bounded.
constexpr std::size_t kFiledBatches = 16;

bool fits_narrow(std::span<const std::int64_t> hull) {
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  for (const std::int64_t c : hull) {
    if (c < low || c > high) return false;
  }
  return true;
}

}  // namespace

ExtractionAside::ExtractionAside(double units_per_micrometre, std::optional<double> tolerance,
                                 model::PolygonPool& pool, Sizes sizes)
    : sizes_(sizes),
      worker_extractor_(units_per_micrometre, tolerance),
      caller_extractor_(units_per_micrometre, tolerance),
      pool_(pool),
      worker_([this] { run(); }) {}

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
  if (!fits_narrow(hull)) {
    // A hull beyond 32 bits (the pool will refuse it) travels alone, at full width.
    if (!filling_.sizes.empty()) hand_over();
    filling_.wide.assign(hull.begin(), hull.end());
    filling_.sizes.push_back(static_cast<std::uint32_t>(hull.size()));
    hand_over();
    return;
  }
  filling_.coordinates.insert(filling_.coordinates.end(), hull.begin(), hull.end());
  filling_.sizes.push_back(static_cast<std::uint32_t>(hull.size()));
  if (filling_.coordinates.size() >= sizes_.batch_coordinates) hand_over();
}

void ExtractionAside::hand_over() {
  std::unique_lock lock(mutex_);
  if (error_) std::rethrow_exception(error_);
  filling_.number = handed_over_++;
  waiting_.push_back(std::move(filling_));
  filling_ = Batch();
  changed_.notify_all();
  while (!error_ && waiting_.size() > sizes_.waiting_batches) {
    if (done_.size() >= kFiledBatches) {
      changed_.wait(lock, [&] {
        return error_ || done_.size() < kFiledBatches || waiting_.size() <= sizes_.waiting_batches;
      });
      continue;
    }
    extract_oldest(caller_extractor_, lock);
  }
  if (error_) std::rethrow_exception(error_);
}

void ExtractionAside::extract_oldest(PolygonExtractor& extractor,
                                     std::unique_lock<std::mutex>& lock) {
  Batch batch = std::move(waiting_.front());
  waiting_.pop_front();
  ++extracting_;
  lock.unlock();
  try {
    std::vector<std::int64_t> hull, kept;
    std::size_t offset = 0;
    for (const std::uint32_t size : batch.sizes) {
      if (batch.wide.empty()) {
        hull.assign(batch.coordinates.begin() + offset, batch.coordinates.begin() + offset + size);
      } else {
        hull = std::move(batch.wide);
      }
      extractor.extract(hull, kept);
      batch.kept.insert(batch.kept.end(), kept.begin(), kept.end());
      batch.kept_sizes.push_back(static_cast<std::uint32_t>(kept.size()));
      offset += size;
    }
  } catch (...) {
    batch.error = std::current_exception();
  }
  std::vector<std::int32_t>().swap(batch.coordinates);
  lock.lock();
  const std::uint64_t number = batch.number;
  done_.emplace(number, std::move(batch));
  add_ready_batches();
  --extracting_;
  changed_.notify_all();
}

void ExtractionAside::add_ready_batches() {
  for (auto next = done_.find(next_to_add_); next != done_.end(); next = done_.find(next_to_add_)) {
    const Batch batch = std::move(next->second);
    done_.erase(next);
    ++next_to_add_;
    if (error_) continue;
    try {
      std::size_t offset = 0;
      for (const std::uint32_t size : batch.kept_sizes) {
        pool_.add(std::span<const std::int64_t>(batch.kept.data() + offset, size));
        offset += size;
      }
    } catch (...) {
      error_ = std::current_exception();
      continue;
    }
    if (batch.error) error_ = batch.error;
  }
}

void ExtractionAside::complete() {
  std::unique_lock lock(mutex_);
  if (!filling_.sizes.empty() && !error_) {
    filling_.number = handed_over_++;
    waiting_.push_back(std::move(filling_));
  }
  filling_ = Batch();
  closing_ = true;
  changed_.notify_all();
  while (!error_ && !waiting_.empty()) {
    extract_oldest(caller_extractor_, lock);
  }
  waiting_.clear();  // only left after an error
  changed_.wait(lock, [&] { return extracting_ == 0; });
  lock.unlock();
  worker_.join();
}

void ExtractionAside::finish() {
  complete();
  if (error_) std::rethrow_exception(error_);
}

std::exception_ptr ExtractionAside::stop() {
  complete();
  return error_;
}

void ExtractionAside::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return closing_ || error_ || !waiting_.empty(); });
    if (dropping_) return;
    if (error_) waiting_.clear();  // nothing after the first failure is added
    if (waiting_.empty()) {
      if (closing_) return;
      changed_.wait(lock, [&] { return closing_; });
      continue;
    }
    extract_oldest(worker_extractor_, lock);
  }
}

}  // namespace tarnwick::depthview::transform
