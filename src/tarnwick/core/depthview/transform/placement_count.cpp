#include "tarnwick/core/depthview/transform/placement_count.hpp"

#include <limits>
#include <unordered_map>
#include <vector>

namespace tarnwick::depthview::transform {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t add(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }
std::uint64_t times(std::uint64_t a, std::uint64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kMax / b ? kMax : a * b;
}

std::string count_text(std::uint64_t count) {
  return count == kMax ? "more than " + std::to_string(kMax) : std::to_string(count);
}

}  // namespace

std::uint64_t count_placements(const model::CellGraph& graph) {
  // below[c]: the placements under one copy of cell c. Computed after those of the cells it
  // places (a depth-first walk with an explicit stack); a cell still being walked counts as
  // empty, which only a recursive hierarchy can meet.
  enum class State { walking, done };
  std::unordered_map<std::int64_t, std::pair<State, std::uint64_t>> below;
  struct Frame {
    const model::CellContent* cell;
    std::size_t next = 0;
    std::uint64_t sum = 0;
  };
  std::uint64_t total = 0;
  for (const std::int64_t top : graph.tops) {
    if (below.count(top) == 0) {
      std::vector<Frame> stack{{&graph.cell(top)}};
      below[top] = {State::walking, 0};
      while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.cell->cell_instances.size()) {
          below[frame.cell->index] = {State::done, frame.sum};
          stack.pop_back();
          continue;
        }
        const model::CellInstance& instance = frame.cell->cell_instances[frame.next];
        auto found = below.find(instance.target);
        if (found == below.end()) {
          below[instance.target] = {State::walking, 0};
          stack.push_back({&graph.cell(instance.target)});
          continue;  // come back to this cell instance once the target is counted
        }
        const std::uint64_t inner = found->second.first == State::done ? found->second.second : 0;
        frame.sum = add(frame.sum, times(instance.placements.count(), add(1, inner)));
        ++frame.next;
      }
    }
    total = add(total, below[top].second);
  }
  return total;
}

TooManyPlacements::TooManyPlacements(std::uint64_t count, std::uint64_t limit,
                                     const char* variable)
    : std::length_error("the scene would hold " + count_text(count) +
                        " placements of cells, more than the limit of " + std::to_string(limit) +
                        "; set " + variable + " to a higher number to show it anyway"),
      count(count),
      limit(limit) {}

void check_placement_limit(const model::CellGraph& graph, std::uint64_t limit,
                           const char* variable) {
  const std::uint64_t count = count_placements(graph);
  if (count > limit) throw TooManyPlacements(count, limit, variable);
}

}  // namespace tarnwick::depthview::transform
