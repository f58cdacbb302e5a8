#pragma once
// Reading a layout's cell hierarchy into the cell graph, every distinct polygon once into the
// polygon pool. No Python in here (the reader may let Python errors through).
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tarnwick/core/depthview/model/cell_graph.hpp"
#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/read/layout_reader.hpp"
#include "tarnwick/core/depthview/transform/extract.hpp"
#include "tarnwick/core/depthview/transform/extract_aside.hpp"

namespace tarnwick::depthview::read {

// A shape with no polygon form (an edge, an edge pair, a point) on a layer that is read.
struct ShapeWithoutPolygon : std::runtime_error {
  explicit ShapeWithoutPolygon(const std::string& shape)
      : std::runtime_error("shape has no polygon form: " + shape) {}
};

// A cell instance whose placed cell is not among the known cells.
struct UnknownCell : std::out_of_range {
  explicit UnknownCell(std::int64_t index)
      : std::out_of_range("unknown cell " + std::to_string(index)), index(index) {}
  std::int64_t index;
};

// What a parser keeps from one parse to the next: the pool and, for every shape extracted, its
// pool index, so that a shape is extracted once however often it is reached.
struct Extraction {
  struct ShapeKey {
    std::int64_t cell, layer, position;
  };
  struct PairHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& key) const {
      return std::hash<std::int64_t>()(key.first * 1000003 + key.second);
    }
  };

  model::PolygonPool pool;
  // Per (cell, layer): the pool index of each shape position; -1 where none was extracted.
  std::unordered_map<std::pair<std::int64_t, std::int64_t>, std::vector<std::int64_t>, PairHash>
      known;
  std::vector<ShapeKey> keys;  // the key of each pool index, in extraction order
};

struct ParseOptions {
  std::vector<std::int64_t> layers;  // the layer indices whose shapes are read, in order
  const std::unordered_set<std::int64_t>* known_cells = nullptr;  // null: every cell is known
  // When given, new polygons are handed to it instead of being extracted during the walk: the
  // pool is complete, with the same polygons in the same order, once the caller has finished it,
  // and its first error comes first. For a parse whose extraction is dropped on failure: the
  // pool may lack polygons that `known` and `keys` name.
  transform::ExtractionAside* aside = nullptr;
};

// Walks the hierarchy below `tops` depth first: a cell's own polygons (layer by layer, shape by
// shape) before those of the cells it places, each placed cell complete before the next cell
// instance; a cell is read once. New polygons go to `extraction.pool` through `extractor` (or
// `options.aside`, which the caller finishes; a failed walk stops it and raises its error if that
// came first). Throws ShapeWithoutPolygon, UnknownCell, SimplifyError, model::CoordinateRangeError
// or the reader's own errors; what was extracted before a failure stays in `extraction`.
model::CellGraph parse(LayoutReader& reader, std::span<const std::int64_t> tops,
                       const ParseOptions& options, transform::PolygonExtractor& extractor,
                       Extraction& extraction);

}  // namespace tarnwick::depthview::read
