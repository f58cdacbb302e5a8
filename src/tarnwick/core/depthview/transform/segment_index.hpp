#pragma once
// A spatial filter over segments numbered in ring order: which live segments have a bounding box
// that meets a given box. No Python here.
//
// Consecutive segments of a ring lie close together, so boxes of runs of 16 segments, of runs of
// 16 such runs, and so on, prune a query much as a tree would. Only the levels a query needs are
// kept: level l (runs of 16^l segments) exists once there are more than 16^l segments, so the top
// level has at most 16 runs. Removal only marks a segment dead (the run boxes stay, a superset);
// runs with no live segment left are skipped. Buffers are kept across reset() so reuse allocates
// nothing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace tarnwick::depthview::transform {

// A closed axis-aligned box.
struct SegmentBox {
  double min_x, max_x, min_y, max_y;

  static SegmentBox of(const std::array<double, 2>& a, const std::array<double, 2>& b) {
    return {a[0] < b[0] ? a[0] : b[0], a[0] > b[0] ? a[0] : b[0], a[1] < b[1] ? a[1] : b[1],
            a[1] > b[1] ? a[1] : b[1]};
  }
  bool meets(const SegmentBox& other) const {
    return !(min_x > other.max_x || max_x < other.min_x || min_y > other.max_y ||
             max_y < other.min_y);
  }
  void grow(const SegmentBox& other) {
    if (other.min_x < min_x) min_x = other.min_x;
    if (other.max_x > max_x) max_x = other.max_x;
    if (other.min_y < min_y) min_y = other.min_y;
    if (other.max_y > max_y) max_y = other.max_y;
  }
};

class SegmentIndex {
 public:
  static constexpr int kShift = 4;   // runs of 16
  static constexpr int kLevels = 8;  // enough for 2^32 segments

  // Empties the index.
  void reset() {
    levels_ = 1;
    boxes_[0].clear();
    live_[0].clear();
  }

  std::uint32_t size() const { return static_cast<std::uint32_t>(boxes_[0].size()); }

  // Replaces the contents by `count` segments, segment k with bounding box `box_of(k)`.
  template <class BoxOf>
  void assign(std::uint32_t count, BoxOf&& box_of) {
    boxes_[0].resize(count);
    live_[0].assign(count, 1);
    for (std::uint32_t k = 0; k < count; ++k) boxes_[0][k] = box_of(k);
    levels_ = 1;
    while (levels_ < kLevels && boxes_[levels_ - 1].size() > (1u << kShift)) add_level();
  }

  const SegmentBox& box(std::uint32_t index) const { return boxes_[0][index]; }

  // Appends segment number size() with bounding box `box`.
  void append(const SegmentBox& box) {
    const auto index = static_cast<std::uint32_t>(boxes_[0].size());
    boxes_[0].push_back(box);
    live_[0].push_back(1);
    for (int level = 1; level < levels_; ++level) {
      const std::uint32_t run = index >> (kShift * level);
      if (run == boxes_[level].size()) {
        boxes_[level].push_back(box);
        live_[level].push_back(1);
      } else {
        boxes_[level][run].grow(box);
        ++live_[level][run];
      }
    }
    if (levels_ < kLevels && boxes_[levels_ - 1].size() > (1u << kShift)) add_level();
  }

  // Marks segment `index` dead: later queries skip it. Each segment is removed at most once.
  void remove(std::uint32_t index) {
    for (int level = 0; level < levels_; ++level) --live_[level][index >> (kShift * level)];
  }

  // Whether `test(k)` holds for some live segment k outside [skip_begin, skip_end) whose box meets
  // `query`. Segments are visited in increasing order; the search stops at the first success.
  template <class Test>
  bool any(const SegmentBox& query, std::uint32_t skip_begin, std::uint32_t skip_end,
           Test&& test) const {
    const int top = levels_ - 1;
    for (std::uint32_t run = 0; run < boxes_[top].size(); ++run) {
      if (search(top, run, query, skip_begin, skip_end, test)) return true;
    }
    return false;
  }

 private:
  // Builds the level above the current top from it.
  void add_level() {
    const std::vector<SegmentBox>& below = boxes_[levels_ - 1];
    const std::vector<std::uint32_t>& below_live = live_[levels_ - 1];
    std::vector<SegmentBox>& boxes = boxes_[levels_];
    std::vector<std::uint32_t>& live = live_[levels_];
    boxes.clear();
    live.clear();
    for (std::size_t k = 0; k < below.size(); ++k) {
      if ((k & ((1u << kShift) - 1)) == 0) {
        boxes.push_back(below[k]);
        live.push_back(below_live[k]);
      } else {
        boxes.back().grow(below[k]);
        live.back() += below_live[k];
      }
    }
    ++levels_;
  }

  template <class Test>
  bool search(int level, std::uint32_t run, const SegmentBox& query, std::uint32_t skip_begin,
              std::uint32_t skip_end, Test& test) const {
    if (live_[level][run] == 0 || !boxes_[level][run].meets(query)) return false;
    const std::uint64_t first = std::uint64_t{run} << (kShift * level);
    const std::uint64_t span = std::uint64_t{1} << (kShift * level);
    if (first >= skip_begin && first + span <= skip_end) return false;  // wholly skipped
    if (level == 0) return test(run);
    const std::uint32_t below_first = run << kShift;
    const std::uint32_t below_end = std::min<std::uint32_t>(
        below_first + (1u << kShift), static_cast<std::uint32_t>(boxes_[level - 1].size()));
    for (std::uint32_t below = below_first; below < below_end; ++below) {
      if (search(level - 1, below, query, skip_begin, skip_end, test)) return true;
    }
    return false;
  }

  int levels_ = 1;
  std::array<std::vector<SegmentBox>, kLevels> boxes_;
  std::array<std::vector<std::uint32_t>, kLevels> live_;
};

}  // namespace tarnwick::depthview::transform
