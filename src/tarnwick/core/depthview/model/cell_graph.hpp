#pragma once
// The layout's cells as the scene reads them: each cell once, with its own polygons per layer (as
// pool indices) and its cell instances. No Python in here.
//
// A cell placed many times is held once; the scene's trees (one record per cell instance by cell,
// references combined per cell, pruned copies per layer) are views of this graph.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::model {

struct CellContent {
  std::int64_t index = 0;
  std::string name;  // UTF-8
  // The cell's own polygons: (layer index, pool indices in shape order) for each layer that
  // has polygons in this cell, in the order of the layers read.
  std::vector<std::pair<std::int64_t, std::vector<std::int64_t>>> polygons;
  std::vector<CellInstance> cell_instances;
};

struct CellGraph {
  std::vector<std::int64_t> tops;                       // the cells the walk started from, in order
  std::unordered_map<std::int64_t, CellContent> cells;  // every cell below them, tops included

  const CellContent& cell(std::int64_t index) const { return cells.at(index); }
};

}  // namespace tarnwick::depthview::model
