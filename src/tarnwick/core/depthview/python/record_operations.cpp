#include "tarnwick/core/depthview/python/record_operations.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "tarnwick/core/depthview/python/ktrans.hpp"
#include "tarnwick/core/depthview/python/layer_table.hpp"
#include "tarnwick/core/depthview/python/parse_gds.hpp"
#include "tarnwick/core/depthview/python/record_view.hpp"
#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/core/depthview/python/scene_records.hpp"
#include "tarnwick/core/depthview/transform/combine.hpp"
#include "tarnwick/core/depthview/transform/prune.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview::python {

namespace {

using namespace nb::literals;
using host::checked;

bool is_grouping(nb::handle value, Grouping grouping) { return value.is(nb::cast(grouping)); }

nb::object new_list(const std::vector<nb::object>& items) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), items[i].inc_ref().ptr());
  }
  return list;
}

// Combines the trees under `tops` (records) and writes the result into them.
void combine_records(const std::vector<nb::object>& tops) {
  RecordView view;
  std::vector<RecordView::Node> roots;
  for (const nb::object& top : tops) roots.push_back(view.hold(top));
  const auto tree = transform::combine(view, std::span<const RecordView::Node>(roots));
  // Everything is computed before any record is changed.
  struct Change {
    nb::handle record;
    nb::object references;  // or invalid: unchanged
    nb::object trans;       // or invalid: unchanged (top cells)
  };
  std::vector<Change> changes;
  for (const auto& node : tree.nodes) {
    Change change{node.source, {}, {}};
    if (node.child_count != 0) {
      std::vector<nb::object> children;
      for (const auto& child : tree.children(node)) children.push_back(nb::borrow(child.source));
      change.references = new_list(children);
    }
    if (node.depth == 1) {
      // At the first level a group's placements are its members' own, the same objects.
      std::vector<nb::object> trans;
      for (RecordView::Node member : node.members) {
        nb::object own = nb::handle(member).attr("trans");
        for (nb::handle t : own) trans.push_back(nb::borrow(t));
      }
      change.trans = new_list(trans);
    } else if (node.depth > 1) {
      std::vector<nb::object> trans;
      for (const model::Placement& p : node.placements) trans.push_back(make_ktrans(p));
      change.trans = new_list(trans);
    }
    changes.push_back(std::move(change));
  }
  for (const Change& change : changes) {
    if (change.references.is_valid()) change.record.attr("references") = change.references;
    if (change.trans.is_valid()) {
      change.record.attr("trans_count") = nb::int_(nb::len(change.trans));
      change.record.attr("trans") = change.trans;
    }
  }
}

}  // namespace

nb::object combine_references(ParseGDS& parser, nb::handle output) {
  if (is_grouping(output, Grouping::CELL)) {
    if (parser.parsed_cells.is_none()) host::raise_assertion();
    std::vector<nb::object> tops;
    for (nb::handle cell : parser.parsed_cells.attr("cells")) tops.push_back(nb::borrow(cell));
    combine_records(tops);
    parser.cell_combined = true;
    return parser.parsed_cells;
  }
  if (is_grouping(output, Grouping::LAYER)) {
    if (parser.parsed_layers.is_none()) host::raise_assertion();
    std::vector<nb::object> tops;
    for (nb::handle trees : parser.parsed_layers.attr("layers")) {
      for (nb::handle cell : trees.attr("values")()) tops.push_back(nb::borrow(cell));
    }
    combine_records(tops);
    parser.layer_combined = true;
    return parser.parsed_layers;
  }
  return nb::none();
}

nb::object export_layers(ParseGDS& parser, bool combine) {
  // Layer trees are always cut from an uncombined by-cell tree, whose placements are still
  // relative to their parents.
  if (parser.parsed_cells.is_none() || parser.cell_combined) parser.export_cells(false);
  if (parser.parsed_cells.is_none()) host::raise_assertion();
  nb::object parsed = parser.parsed_cells;
  std::vector<nb::object> layer_ids;
  for (nb::handle index : parser.layer_map) layer_ids.push_back(nb::str(index));
  RecordView view;
  auto copy_of = [&](RecordView::Node node, const nb::object& layer_id, bool has_entry,
                     std::vector<nb::object> kept) {
    nb::handle source(node);
    const bool is_reference = view.is_reference(node);
    nb::kwargs fields;
    fields["cell_index"] = source.attr("cell_index");
    fields["name"] = source.attr("name");
    if (has_entry) {
      nb::dict polygons;
      polygons[layer_id] = source.attr("polygons")[layer_id];
      fields["polygons"] = polygons;
    }
    fields["references"] = new_list(kept);
    if (is_reference) {
      nb::object trans = source.attr("trans");
      fields["trans_count"] = nb::int_(nb::len(trans));
      fields["trans"] = trans;
    }
    return make_record(is_reference ? RecordKind::Reference : RecordKind::Cell, fields);
  };
  nb::list layers;
  for (nb::handle top : parsed.attr("cells")) {
    nb::dict cell_layers;
    RecordView::Node root = view.hold(nb::borrow(top));
    for (const nb::object& layer_id : layer_ids) {
      auto [copy, content] = transform::prune<nb::object>(
          view, root, nb::handle(layer_id),
          [&](RecordView::Node node, bool has_entry, std::vector<nb::object> kept) {
            return copy_of(node, layer_id, has_entry, std::move(kept));
          });
      if (content) cell_layers[layer_id] = copy;
    }
    layers.append(cell_layers);
  }
  nb::kwargs fields;
  fields["instances"] = parsed.attr("instances");
  fields["layer_map"] = parsed.attr("layer_map");
  fields["layers"] = layers;
  parser.parsed_layers = make_record(RecordKind::ParsedLayers, fields);
  if (combine) combine_references(parser, nb::cast(Grouping::LAYER));
  return parser.parsed_layers;
}

nb::object to_viewer(ParseGDS& parser, nb::handle output) {
  if (is_grouping(output, Grouping::CELL)) {
    if (parser.parsed_cells.is_none()) host::raise_assertion();
    if (!parser.cell_combined) combine_references(parser, output);
    nb::object parsed = parser.parsed_cells;
    LayerTable layers(parser.layers, parser.z_scale, parser.exclude_layers,
                      parsed.attr("layer_map"), parser.reverse_layer_map);
    RecordView view;
    std::vector<RecordView::Node> tops;
    for (nb::handle cell : parsed.attr("cells")) tops.push_back(view.hold(nb::borrow(cell)));
    const auto tree = write::by_cell(view, std::span<const RecordView::Node>(tops), layers);
    return scene_records(tree, view, layers, parsed.attr("instances"),
                         parser.units_per_micrometre());
  }
  if (is_grouping(output, Grouping::LAYER)) {
    if (!parser.layer_combined) combine_references(parser, output);
    if (parser.parsed_layers.is_none()) host::raise_assertion();
    nb::object parsed = parser.parsed_layers;
    LayerTable layers(parser.layers, parser.z_scale, parser.exclude_layers, parser.layer_map,
                      parser.reverse_layer_map);
    RecordView view;
    const auto tree = write::by_layer(
        view,
        [&](auto&& visit) {
          for (nb::handle trees : parsed.attr("layers")) {
            nb::object items = nb::list(trees.attr("items")());
            for (nb::handle pair : items) {
              nb::object index = checked(PyNumber_Long(nb::object(pair[0]).ptr()));
              visit(host::as_int64(index), view.hold(pair[1]));
            }
          }
        },
        layers);
    return scene_records(tree, view, layers, parsed.attr("instances"),
                         parser.units_per_micrometre());
  }
  host::raise(PyExc_ValueError, "Unknown output " + nb::cast<std::string>(nb::str(output)));
}

}  // namespace tarnwick::depthview::python
