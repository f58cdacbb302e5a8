#include "tarnwick/core/depthview/combine.hpp"

#include <vector>

#include "tarnwick/core/depthview/ktrans.hpp"
#include "tarnwick/core/depthview/parser.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview {

namespace {

using host::non_empty;

void combine_cell(nb::handle cell) {
  Record& record = expect_record(cell, cell_schema, "a parsed cell");
  if (non_empty(record[field::references])) {
    record[field::references] = combine_siblings(record[field::references], nb::none());
  }
}

}  // namespace

nb::object combine_siblings(nb::handle references, nb::handle parent_trans) {
  // Groups keep the order in which their cell_index was first seen.
  nb::dict group_of;
  std::vector<std::vector<nb::object>> groups;
  for (nb::handle reference : references) {
    Record& record = expect_record(reference, reference_schema, "a reference");
    nb::handle key = record[field::cell_index];
    PyObject* found = PyDict_GetItemWithError(group_of.ptr(), key.ptr());
    if (found == nullptr) {
      if (PyErr_Occurred()) throw nb::python_error();
      group_of[key] = nb::int_(groups.size());
      groups.emplace_back();
      groups.back().push_back(nb::borrow(reference));
    } else {
      groups[PyLong_AsSize_t(found)].push_back(nb::borrow(reference));
    }
  }
  nb::list result;
  for (const std::vector<nb::object>& group : groups) {
    Record& first = *as_record(group.front());
    nb::list trans;
    for (const nb::object& member : group) {
      nb::object product = KTrans::multiply(parent_trans, (*as_record(member))[field::trans]);
      if (product.is_none()) host::raise_assertion();
      for (nb::handle t : product) trans.append(t);
    }
    // The other members describe the same cell: their children are those of the first.
    if (non_empty(first[field::references])) {
      first[field::references] = combine_siblings(first[field::references], trans);
    }
    first[field::trans_count] = nb::int_(trans.size());
    first[field::trans] = trans;
    result.append(group.front());
  }
  return result;
}

nb::object combine_references(Parser& parser, nb::handle output) {
  CollectorPause pause;
  if (output.is(nb::cast(Output::CELL))) {
    if (parser.parsed_cells.is_none()) host::raise_assertion();
    Record& parsed = expect_record(parser.parsed_cells, parsed_cells_schema, "parsed_cells");
    for (nb::handle cell : parsed[field::cells_or_layers]) combine_cell(cell);
    parser.cell_combined = true;
    return parser.parsed_cells;
  }
  if (output.is(nb::cast(Output::LAYER))) {
    if (parser.parsed_layers.is_none()) host::raise_assertion();
    Record& parsed = expect_record(parser.parsed_layers, parsed_layers_schema, "parsed_layers");
    for (nb::handle layer_trees : parsed[field::cells_or_layers]) {
      for (nb::handle cell : layer_trees.attr("values")()) combine_cell(cell);
    }
    parser.layer_combined = true;
    return parser.parsed_layers;
  }
  return nb::none();
}

}  // namespace tarnwick::depthview
