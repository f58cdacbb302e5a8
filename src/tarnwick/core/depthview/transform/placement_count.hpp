#pragma once
// How many placements a scene will hold, counted on the cell graph before any is built. No Python
// in here.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tarnwick/core/depthview/model/cell_graph.hpp"

namespace tarnwick::depthview::transform {

// The number of placements of the combined scene: for every path of cell instances down from a top
// cell, the product of the placement counts along the path, summed over all paths. Each path is
// also one reference of the uncombined tree, so this bounds that tree's size too. Saturates at
// the largest 64-bit value. One pass over the graph.
std::uint64_t count_placements(const model::CellGraph& graph);

// A scene that would hold more placements than allowed.
// `variable` names the environment variable that sets `limit`.
struct TooManyPlacements : std::length_error {
  TooManyPlacements(std::uint64_t count, std::uint64_t limit,
                    const char* variable = "TARNWICK_MAX_PLACEMENTS");
  std::uint64_t count, limit;
};

// Throws TooManyPlacements when the graph's scene would hold more than `limit` placements.
void check_placement_limit(const model::CellGraph& graph, std::uint64_t limit,
                           const char* variable = "TARNWICK_MAX_PLACEMENTS");

}  // namespace tarnwick::depthview::transform
