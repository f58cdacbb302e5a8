#include "tarnwick/core/depthview/read/parse.hpp"

#include <exception>
#include <span>

namespace tarnwick::depthview::read {

namespace {

class Walk {
 public:
  Walk(LayoutReader& reader, const ParseOptions& options, transform::PolygonExtractor& extractor,
       Extraction& extraction, transform::ExtractionAside* aside)
      : reader_(reader),
        options_(options),
        extractor_(extractor),
        extraction_(extraction),
        aside_(aside),
        next_index_(extraction.pool.end_index()) {}

  void from(std::int64_t top) {
    graph_.tops.push_back(top);
    if (graph_.cells.count(top) != 0) return;
    struct Frame {
      model::CellContent* cell;
      std::size_t next = 0;
    };
    std::vector<Frame> stack{{&read(top)}};
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next == frame.cell->cell_instances.size()) {
        stack.pop_back();
        continue;
      }
      const std::int64_t target = frame.cell->cell_instances[frame.next++].target;
      if (options_.known_cells != nullptr && options_.known_cells->count(target) == 0) {
        throw UnknownCell(target);
      }
      if (graph_.cells.count(target) == 0) stack.push_back({&read(target)});
    }
  }

  model::CellGraph take() { return std::move(graph_); }

 private:
  model::CellContent& read(std::int64_t index) {
    model::CellContent& cell = graph_.cells[index];
    cell.index = index;
    cell.name = reader_.cell_name(index);
    for (const std::int64_t layer : options_.layers) {
      std::vector<std::int64_t> refs = shapes(index, layer);
      if (!refs.empty()) cell.polygons.emplace_back(layer, std::move(refs));
    }
    reader_.cell_instances(index, cell.cell_instances);
    return cell;
  }

  // The pool indices of the cell's polygon shapes on one layer, extracting the shapes not seen
  // before.
  std::vector<std::int64_t> shapes(std::int64_t cell, std::int64_t layer) {
    reader_.shapes(cell, layer, batch_);
    std::vector<std::int64_t>& known = extraction_.known[{cell, layer}];
    std::vector<std::int64_t> refs;
    std::size_t offset = 0;  // into batch_.coordinates
    for (std::size_t position = 0; position < batch_.kinds.size(); ++position) {
      const std::size_t count = 2 * std::size_t{batch_.hull_sizes[position]};
      const std::span<const std::int64_t> hull(batch_.coordinates.data() + offset, count);
      offset += count;
      const ShapeKind kind = batch_.kinds[position];
      if (kind == ShapeKind::text) continue;
      if (kind == ShapeKind::other) throw ShapeWithoutPolygon(batch_.first_other);
      if (position < known.size() && known[position] >= 0) {
        refs.push_back(known[position]);
        continue;
      }
      if (aside_ != nullptr) {
        aside_->add(hull);
      } else {
        extractor_.extract(hull, kept_);
        extraction_.pool.add(kept_);
      }
      const std::int64_t index = next_index_++;
      if (known.size() <= position) known.resize(position + 1, -1);
      known[position] = index;
      extraction_.keys.push_back({cell, layer, static_cast<std::int64_t>(position)});
      refs.push_back(index);
    }
    return refs;
  }

  LayoutReader& reader_;
  const ParseOptions& options_;
  transform::PolygonExtractor& extractor_;
  Extraction& extraction_;
  transform::ExtractionAside* aside_;  // null: extracted here
  std::int64_t next_index_;            // the pool index of the next new polygon
  model::CellGraph graph_;
  ShapeBatch batch_;
  std::vector<std::int64_t> kept_;
};

}  // namespace

model::CellGraph parse(LayoutReader& reader, std::span<const std::int64_t> tops,
                       const ParseOptions& options, transform::PolygonExtractor& extractor,
                       Extraction& extraction) {
  Walk walk(reader, options, extractor, extraction, options.aside);
  try {
    for (const std::int64_t top : tops) walk.from(top);
  } catch (...) {
    // A failed extraction of an earlier polygon comes first, as it would without the worker.
    if (options.aside != nullptr) {
      if (std::exception_ptr earlier = options.aside->stop()) std::rethrow_exception(earlier);
    }
    throw;
  }
  return walk.take();
}

}  // namespace tarnwick::depthview::read
