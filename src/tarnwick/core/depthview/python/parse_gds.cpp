#include "tarnwick/core/depthview/python/parse_gds.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <unordered_set>

#include "tarnwick/core/depthview/python/arguments.hpp"
#include "tarnwick/core/depthview/python/ktrans.hpp"
#include "tarnwick/core/depthview/python/layer_table.hpp"
#include "tarnwick/core/depthview/python/record_operations.hpp"
#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/core/depthview/transform/placement_count.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/host/settings.hpp"

namespace tarnwick::depthview::python {

namespace {

using namespace nb::literals;
using host::checked;

// The parser writes into these members through the C API, which needs their exact kinds.
void expect_type(nb::handle value, PyTypeObject* type, const char* member) {
  if (!PyObject_TypeCheck(value.ptr(), type)) {
    host::raise(PyExc_TypeError, std::string("ParseGDS.") + member + " must be a " + type->tp_name +
                                     ", not " + Py_TYPE(value.ptr())->tp_name);
  }
}

nb::object int_list(const std::vector<std::int64_t>& values) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i),
                    checked(PyLong_FromLongLong(values[i])).release().ptr());
  }
  return list;
}

// A polygon of micrometre points as the records hold it: a list of (x, y) float pairs.
nb::object point_list(std::span<const model::PolygonPool::Coordinate> coordinates,
                      double units_per_micrometre) {
  const std::size_t count = coordinates.size() / 2;
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(count)));
  for (std::size_t i = 0; i < count; ++i) {
    PyObject* point = PyTuple_New(2);
    if (point == nullptr) throw nb::python_error();
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), point);
    for (std::size_t k = 0; k < 2; ++k) {
      PyObject* value =
          PyFloat_FromDouble(static_cast<double>(coordinates[2 * i + k]) / units_per_micrometre);
      if (value == nullptr) throw nb::python_error();
      PyTuple_SET_ITEM(point, static_cast<Py_ssize_t>(k), value);
    }
  }
  return list;
}

}  // namespace

ParseGDS::ParseGDS(nb::handle layout_, nb::object layers_, double z_scale_,
                   nb::object curve_tolerance_, nb::object exclude_layers_)
    : reader_(layout_) {
  layout = nb::borrow(layout_);
  layers = std::move(layers_);
  z_scale = checked_z_scale(z_scale_);
  const std::optional<double> tolerance = checked_tolerance(curve_tolerance_);
  curve_tolerance = tolerance ? nb::object(nb::float_(*tolerance)) : nb::none();
  exclude_layers = exclude_layers_.is_none() ? nb::list() : std::move(exclude_layers_);
  instances = nb::list();
  layer_map = nb::dict();
  reverse_layer_map = nb::dict();
  units_per_micrometre_ = 1.0 / reader_.dbu();
  extract_layers();
  nb::dict cells;
  for (const std::int64_t index : reader_.cells())
    cells[nb::int_(index)] = reader_.cell_object(index);
  cell_index_map = cells;
}

nb::object ParseGDS::get_name(nb::handle layer_spec) { return layer_name(layers, layer_spec); }
double ParseGDS::get_zmin(nb::handle layer_spec) { return layer_zmin(layers, z_scale, layer_spec); }
double ParseGDS::get_height(nb::handle layer_spec) {
  return layer_height(layers, z_scale, layer_spec);
}
nb::object ParseGDS::get_color(nb::handle layer_spec) { return layer_color(layers, layer_spec); }

void ParseGDS::extract_layers() {
  auto [map, reverse] = layer_maps(reader_.layers(), layers);
  layer_map = map;
  reverse_layer_map = reverse;
}

nb::object ParseGDS::extract_dpolygon(nb::handle polygon) {
  if (polygon.is_none()) {
    host::raise(PyExc_TypeError, "polygon must be a KLayout polygon, not None");
  }
  std::vector<std::int64_t> hull;
  reader_.polygon_hull(polygon, hull);
  const std::vector<double> points(hull.begin(), hull.end());
  transform::PolygonExtractor extractor(units_per_micrometre_, checked_tolerance(curve_tolerance));
  transform::Ring ring;
  extractor.extract_micrometres(points, ring);
  nb::list result;
  for (const auto& [x, y] : ring) result.append(nb::make_tuple(x, y));
  return result;
}

model::CellGraph ParseGDS::parse(const std::vector<std::int64_t>& tops) {
  expect_type(instances, &PyList_Type, "instances");
  expect_type(layer_map, &PyDict_Type, "layer_map");
  expect_type(cell_index_map, &PyDict_Type, "cell_index_map");
  read::ParseOptions options;
  for (auto [index, spec] : nb::borrow<nb::dict>(layer_map)) {
    (void)spec;
    options.layers.push_back(host::as_int64(index));
  }
  std::unordered_set<std::int64_t> known;
  for (auto [index, cell] : nb::borrow<nb::dict>(cell_index_map)) {
    (void)cell;
    known.insert(host::as_int64(index));
  }
  options.known_cells = &known;
  transform::PolygonExtractor extractor(units_per_micrometre_, checked_tolerance(curve_tolerance));
  // Polygons extracted before a failure stay in the pool, as the failure leaves them.
  auto hand_on = [&] {
    const model::PolygonPool& pool = extraction_.pool;
    for (std::size_t k = 0; k < pool.size(); ++k) {
      nb::object polygon = point_list(pool.polygon(k), units_per_micrometre_);
      if (PyList_Append(instances.ptr(), polygon.ptr()) != 0) throw nb::python_error();
    }
    extraction_.pool.hand_on();
  };
  model::CellGraph graph;
  try {
    graph = read::parse(reader_, tops, options, extractor, extraction_);
  } catch (...) {
    hand_on();
    throw;
  }
  hand_on();
  transform::check_placement_limit(graph, host::settings::max_placements());
  // Here every path of the hierarchy becomes a record and every placement a KTrans: far fewer
  // fit in memory than on the fast route, so this route has a lower limit of its own.
  transform::check_placement_limit(graph, host::settings::max_record_placements(),
                                   "TARNWICK_MAX_RECORD_PLACEMENTS");
  return graph;
}

nb::object ParseGDS::unfold(const model::CellGraph& graph, std::int64_t top) {
  // One record per visit, as a walk of the cell instances would make them: a cell placed twice
  // gives two records with lists of their own. A cell instance whose cell is on the path from the
  // top (a recursive hierarchy) is left out.
  auto record_of = [&](const model::CellContent& cell, bool is_reference) {
    nb::dict polygons;
    for (const auto& [layer, refs] : cell.polygons)
      polygons[nb::str(nb::int_(layer))] = int_list(refs);
    nb::kwargs fields;
    fields["cell_index"] = nb::int_(cell.index);
    fields["name"] = nb::str(cell.name.data(), cell.name.size());
    fields["polygons"] = polygons;
    return make_record(is_reference ? RecordKind::Reference : RecordKind::Cell, fields);
  };
  struct Frame {
    const model::CellContent* cell;
    nb::object references;
    std::size_t next = 0;
  };
  std::unordered_set<std::int64_t> path{top};
  const model::CellContent& root_cell = graph.cell(top);
  nb::object root = record_of(root_cell, false);
  std::vector<Frame> stack{{&root_cell, root.attr("references")}};
  std::vector<model::Placement> placements;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.cell->cell_instances.size()) {
      path.erase(frame.cell->index);
      stack.pop_back();
      continue;
    }
    const model::CellInstance& instance = frame.cell->cell_instances[frame.next++];
    if (path.count(instance.target) != 0) continue;
    const model::CellContent& cell = graph.cell(instance.target);
    nb::object reference = record_of(cell, true);
    placements.clear();
    instance.placements.expand(placements);
    nb::object trans = checked(PyList_New(static_cast<Py_ssize_t>(placements.size())));
    for (std::size_t i = 0; i < placements.size(); ++i) {
      PyList_SET_ITEM(trans.ptr(), static_cast<Py_ssize_t>(i),
                      make_ktrans(placements[i]).release().ptr());
    }
    reference.attr("trans_count") = nb::int_(placements.size());
    reference.attr("trans") = trans;
    if (PyList_Append(frame.references.ptr(), reference.ptr()) != 0) throw nb::python_error();
    path.insert(cell.index);
    stack.push_back({&cell, reference.attr("references")});
  }
  return root;
}

nb::object ParseGDS::parse_cells(nb::handle cell) {
  const std::int64_t top = host::as_int64(cell.attr("cell_index")());
  const model::CellGraph graph = parse({top});
  return unfold(graph, top);
}

nb::object ParseGDS::export_cells(bool combine) {
  const model::CellGraph graph = parse(reader_.top_cells());
  nb::list cells;
  for (const std::int64_t top : graph.tops) cells.append(unfold(graph, top));
  nb::kwargs fields;
  fields["instances"] = instances;
  fields["layer_map"] = layer_map;
  fields["cells"] = cells;
  parsed_cells = make_record(RecordKind::ParsedCells, fields);
  if (combine) combine_references(*this, nb::cast(Grouping::CELL));
  return parsed_cells;
}

nb::dict ParseGDS::instance_mapping() const {
  nb::dict result;
  for (std::size_t i = 0; i < extraction_.keys.size(); ++i) {
    const read::Extraction::ShapeKey& key = extraction_.keys[i];
    result[nb::make_tuple(key.cell, key.layer, key.position)] = nb::int_(i);
  }
  return result;
}

int ParseGDS::traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  ParseGDS* p = nb::inst_ptr<ParseGDS>(self);
  for (const nb::object* member : {&p->layout, &p->layers, &p->curve_tolerance, &p->exclude_layers,
                                   &p->instances, &p->parsed_cells, &p->parsed_layers,
                                   &p->layer_map, &p->reverse_layer_map, &p->cell_index_map}) {
    Py_VISIT(member->ptr());
  }
  return 0;
}

int ParseGDS::clear(PyObject* self) {
  ParseGDS* p = nb::inst_ptr<ParseGDS>(self);
  p->parsed_cells = nb::none();
  p->parsed_layers = nb::none();
  return 0;
}

}  // namespace tarnwick::depthview::python
