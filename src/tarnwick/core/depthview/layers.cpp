#include "tarnwick/core/depthview/layers.hpp"

#include "tarnwick/core/depthview/combine.hpp"
#include "tarnwick/core/depthview/parser.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview {

namespace {

using host::non_empty;

bool has_content(nb::handle pruned) {
  const Record& record = *as_record(pruned);
  return non_empty(record[field::polygons]) || non_empty(record[field::references]);
}

}  // namespace

nb::object filter_by_layer(nb::handle cell, nb::handle layer_id) {
  Record& source = expect_record(cell, cell_schema, "a parsed cell");
  const bool is_reference = is_kind(source, reference_schema);
  nb::object result = new_record(is_reference ? reference_schema : cell_schema);
  Record& copy = *as_record(result);
  copy[field::cell_index] = source[field::cell_index];
  copy[field::name] = source[field::name];
  // Only the presence of a value decides: an empty list still makes a one-entry map.
  PyObject* refs = PyObject_GetItem(source[field::polygons].ptr(), layer_id.ptr());
  if (refs != nullptr) {
    nb::object held = nb::steal(refs);
    copy[field::polygons][layer_id] = held;
  } else if (PyErr_ExceptionMatches(PyExc_KeyError)) {
    PyErr_Clear();
  } else {
    throw nb::python_error();
  }
  if (is_reference) {
    const Py_ssize_t count = PyObject_Length(source[field::trans].ptr());
    if (count < 0) throw nb::python_error();
    copy[field::trans_count] = nb::int_(count);
    copy[field::trans] = source[field::trans];
  }
  for (nb::handle reference : source[field::references]) {
    nb::object subtree = filter_by_layer(reference, layer_id);
    if (has_content(subtree)) copy[field::references].attr("append")(subtree);
  }
  return result;
}

nb::object export_layers(Parser& parser, bool combine) {
  CollectorPause pause;
  // Layer trees are always cut from an uncombined by-cell tree, whose placements are still
  // relative to their parents.
  if (parser.parsed_cells.is_none() || parser.cell_combined) parser.export_cells(false);
  if (parser.parsed_cells.is_none()) host::raise_assertion();
  Record& parsed = expect_record(parser.parsed_cells, parsed_cells_schema, "parsed_cells");
  nb::list layer_ids;
  for (nb::handle index : parser.layer_map) layer_ids.append(nb::str(index));
  nb::list layers;
  for (nb::handle top : parsed[field::cells_or_layers]) {
    nb::dict cell_layers;
    for (nb::handle layer_id : layer_ids) {
      nb::object result = filter_by_layer(top, layer_id);
      if (has_content(result)) cell_layers[layer_id] = result;
    }
    layers.append(cell_layers);
  }
  nb::object result = new_record(parsed_layers_schema);
  Record& record = *as_record(result);
  record[field::instances] = parsed[field::instances];
  record[field::layer_map] = parsed[field::layer_map];
  record[field::cells_or_layers] = layers;
  parser.parsed_layers = result;
  if (combine) combine_references(parser, nb::cast(Output::LAYER));
  return parser.parsed_layers;
}

}  // namespace tarnwick::depthview
