#include "tarnwick/core/depthview/parser.hpp"

#include <nanobind/stl/string.h>

#include <memory>
#include <string>
#include <unordered_set>

#include "tarnwick/core/depthview/combine.hpp"
#include "tarnwick/core/depthview/ktrans.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview {

namespace {

using host::as_double;
using host::as_int64;
using host::checked;
using host::contains;

// The parser writes into these members through the C API, which needs their exact kinds.
void expect_type(nb::handle value, PyTypeObject* type, const char* member) {
  if (!PyObject_TypeCheck(value.ptr(), type)) {
    host::raise(PyExc_TypeError, std::string("ParseGDS.") + member + " must be a " + type->tp_name +
                                     ", not " + Py_TYPE(value.ptr())->tp_name);
  }
}

nb::object polygon_object(const Hull& points) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(points.size())));
  for (std::size_t i = 0; i < points.size(); ++i) {
    PyObject* point = PyTuple_New(2);
    if (point == nullptr) throw nb::python_error();
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), point);
    for (int k = 0; k < 2; ++k) {
      PyObject* coordinate = PyFloat_FromDouble(points[i][k]);
      if (coordinate == nullptr) throw nb::python_error();
      PyTuple_SET_ITEM(point, k, coordinate);
    }
    // A pair of floats can never be part of a reference cycle: the collector need not track it
    // (CPython untracks such tuples itself, but only when a collection first meets them).
    PyObject_GC_UnTrack(point);
  }
  return list;
}

nb::object int_list(const std::vector<std::int64_t>& values) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i),
                    checked(PyLong_FromLongLong(values[i])).release().ptr());
  }
  return list;
}

}  // namespace

// One walk of the cell hierarchy (one parse_cells or export_cells call). What a cell contributes
// does not depend on where it is placed, so each cell's shapes and instances are read from the
// layout once per walk, however often the cell is placed; every visit still makes its own records
// and lists, as a fresh walk would.
class ParseSession {
 public:
  explicit ParseSession(Parser& parser) : parser_(parser) {
    expect_type(parser_.instances, &PyList_Type, "instances");
    expect_type(parser_.layer_map, &PyDict_Type, "layer_map");
    expect_type(parser_.cell_index_map, &PyDict_Type, "cell_index_map");
    // The layers of layer_map, in map order, with the key text of each.
    for (auto [index, spec] : nb::borrow<nb::dict>(parser_.layer_map)) {
      (void)spec;
      layers_.push_back({as_int64(index), nb::str(index)});
    }
  }

  nb::object parse_top(nb::handle cell) {
    CellEntry& entry = entry_for(cell, parser_.access_.cell_index(cell));
    return parse(entry, false);
  }

 private:
  struct LayerSlot {
    std::int64_t index;
    nb::object key;  // the decimal text of the index
  };
  struct InstanceTarget {
    nb::object cell_index;  // as KLayout gave it
    Placements placements;
  };
  struct CellEntry {
    nb::object cell;
    nb::object index_object;
    std::int64_t index = 0;
    nb::object name;
    bool shapes_read = false;
    std::vector<std::pair<std::size_t, std::vector<std::int64_t>>> polygons;  // layer slot, refs
    bool instances_read = false;
    std::vector<InstanceEntry> instances;
  };

  CellEntry& entry_for(nb::handle cell, std::int64_t index) {
    auto& slot = cells_[index];
    if (!slot) {
      slot = std::make_unique<CellEntry>();
      slot->cell = nb::borrow(cell);
      slot->index = index;
      slot->index_object = nb::int_(index);
      slot->name = parser_.access_.cell_name(cell);
    }
    return *slot;
  }

  // The cell's own polygons per layer, extracting each shape not seen before by this parser.
  void read_shapes(CellEntry& entry) {
    entry.shapes_read = true;
    for (std::size_t slot = 0; slot < layers_.size(); ++slot) {
      const std::int64_t layer = layers_[slot].index;
      std::vector<std::int64_t>& known = parser_.mapping_[{entry.index, layer}];
      std::vector<std::int64_t> refs;
      ShapeCursor cursor = parser_.access_.shapes(entry.cell, layer);
      while (cursor.next()) {
        const std::size_t position = cursor.position();
        if (position < known.size() && known[position] >= 0) {
          refs.push_back(known[position]);
          continue;
        }
        const ShapeKind kind = cursor.hull(parser_.hull_);
        if (kind == ShapeKind::text) continue;
        if (kind == ShapeKind::other) {
          host::raise(PyExc_TypeError, "shape has no polygon form: " + cursor.describe());
        }
        parser_.store_polygon(parser_.hull_);
        const std::int64_t index = parser_.instance_index++;
        if (known.size() <= position) known.resize(position + 1, -1);
        known[position] = index;
        parser_.keys_.push_back({entry.index, layer, static_cast<std::int64_t>(position)});
        refs.push_back(index);
      }
      if (!refs.empty()) entry.polygons.emplace_back(slot, std::move(refs));
    }
  }

  nb::object parse(CellEntry& entry, bool is_ref) {
    nb::object result = new_record(is_ref ? reference_schema : cell_schema);
    Record& record = *as_record(result);
    record[field::cell_index] = entry.index_object;
    record[field::name] = entry.name;
    if (!entry.shapes_read) read_shapes(entry);
    for (const auto& [slot, refs] : entry.polygons) {
      if (PyDict_SetItem(record[field::polygons].ptr(), layers_[slot].key.ptr(),
                         int_list(refs).ptr()) != 0) {
        throw nb::python_error();
      }
    }
    visited_.insert(entry.index);
    if (!entry.instances_read) {
      entry.instances = parser_.access_.instances(entry.cell);
      entry.instances_read = true;
    }
    for (const InstanceEntry& instance : entry.instances) {
      PyObject* target =
          PyDict_GetItemWithError(parser_.cell_index_map.ptr(), instance.cell_index.ptr());
      if (target == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, instance.cell_index.ptr());
        throw nb::python_error();
      }
      nb::object target_cell = nb::borrow(target);
      CellEntry*& cached = by_instance_index_[as_int64(instance.cell_index)];
      if (cached == nullptr) {
        cached = &entry_for(target_cell, parser_.access_.cell_index(target_cell));
      }
      CellEntry* target_entry = cached;
      if (visited_.count(target_entry->index) != 0) continue;  // would close a cycle
      nb::object reference = parse(*target_entry, true);
      Record& ref = *as_record(reference);
      const Placements& placements = instance.placements;
      nb::object trans = checked(PyList_New(static_cast<Py_ssize_t>(placements.size())));
      for (std::size_t i = 0; i < placements.size(); ++i) {
        nb::object k = placements.is_native ? make_ktrans(placements.native[i])
                                            : nb::cast(KTrans(placements.objects[i]));
        PyList_SET_ITEM(trans.ptr(), static_cast<Py_ssize_t>(i), k.release().ptr());
      }
      ref[field::trans_count] = nb::int_(placements.size());
      ref[field::trans] = trans;
      if (PyList_Append(record[field::references].ptr(), reference.ptr()) != 0) {
        throw nb::python_error();
      }
    }
    visited_.erase(entry.index);
    return result;
  }

  Parser& parser_;
  std::vector<LayerSlot> layers_;
  std::unordered_map<std::int64_t, std::unique_ptr<CellEntry>> cells_;
  std::unordered_map<std::int64_t, CellEntry*> by_instance_index_;
  std::unordered_set<std::int64_t> visited_;
};

Parser::Parser(nb::handle layout_, nb::object layers_, double z_scale_, nb::object curve_tolerance_,
               nb::object exclude_layers_)
    : access_(layout_) {
  layout = nb::borrow(layout_);
  layers = std::move(layers_);
  z_scale = z_scale_;
  if (curve_tolerance_.is_none()) {
    curve_tolerance = nb::none();
  } else {
    if (!PyNumber_Check(curve_tolerance_.ptr()) || PyBool_Check(curve_tolerance_.ptr())) {
      host::raise(PyExc_TypeError,
                  "curve_tolerance must be a number or None, not " +
                      nb::cast<std::string>(nb::type_name(curve_tolerance_.type())));
    }
    curve_tolerance = nb::float_(as_double(curve_tolerance_));
  }
  exclude_layers = exclude_layers_.is_none() ? nb::list() : std::move(exclude_layers_);
  instances = nb::list();
  layer_map = nb::dict();
  reverse_layer_map = nb::dict();
  units_per_micrometre_ = 1.0 / access_.dbu();
  extract_layers();
  nb::dict cells;
  for (const nb::object& cell : access_.cells()) cells[nb::int_(access_.cell_index(cell))] = cell;
  cell_index_map = cells;
}

nb::object Parser::get_name(nb::handle layer_spec) {
  if (contains(layers, layer_spec)) {
    nb::object layer = layers[layer_spec];
    nb::object name = layer.attr("name");  // read first: a missing name raises its own error
    return nb::str("{} {}").format(name, layer_spec);
  }
  return nb::str(layer_spec);
}

double Parser::get_zmin(nb::handle layer_spec) {
  if (contains(layers, layer_spec)) return z_scale * as_double(layers[layer_spec].attr("zmin"));
  return -z_scale;
}

double Parser::get_height(nb::handle layer_spec) {
  if (contains(layers, layer_spec)) {
    return z_scale * as_double(layers[layer_spec].attr("thickness"));
  }
  return z_scale * 0.05;
}

nb::object Parser::get_color(nb::handle layer_spec) {
  if (contains(layers, layer_spec)) return layers[layer_spec].attr("color");
  return nb::str("#000000");
}

void Parser::extract_layers() {
  nb::dict map;
  for (const LayerEntry& entry : access_.layers()) {
    nb::tuple spec = nb::make_tuple(entry.layer, entry.datatype);
    if (contains(layers, spec)) map[nb::int_(entry.index)] = spec;
  }
  nb::dict reverse;
  for (auto [index, spec] : map) reverse[spec] = index;  // a later index wins
  layer_map = map;
  reverse_layer_map = reverse;
}

namespace {

[[noreturn]] void raise_simplify_error(const SimplifyError& error) {
  switch (error.kind) {
    case SimplifyError::Kind::not_polygon:
      host::raise_assertion();
    case SimplifyError::Kind::empty:
      host::raise(PyExc_IndexError, error.what());
    case SimplifyError::Kind::invalid_ring:
      break;
  }
  host::raise(PyExc_ValueError, error.what());
}

}  // namespace

const Ring& Parser::pool_points(const Hull& hull) {
  points_.resize(hull.size());
  for (std::size_t i = 0; i < hull.size(); ++i) {
    points_[i] = {hull[i][0] / units_per_micrometre_, hull[i][1] / units_per_micrometre_};
  }
  if (curve_tolerance.is_none()) return points_;
  try {
    simplifier_.simplify(points_, as_double(curve_tolerance), points_);
  } catch (const SimplifyError& error) {
    raise_simplify_error(error);
  }
  if (points_.front() == points_.back()) points_.pop_back();
  return points_;
}

nb::object Parser::pool_polygon(const Hull& hull) { return polygon_object(pool_points(hull)); }

void Parser::store_polygon(const Hull& hull) {
  if (native_pool_) {
    native_pool_->add(pool_points(hull));
    return;
  }
  nb::object polygon = pool_polygon(hull);
  if (PyList_Append(instances.ptr(), polygon.ptr()) != 0) throw nb::python_error();
}

void Parser::use_native_pool() {
  if (!native_pool_) native_pool_ = std::make_unique<PolygonPool>();
}

nb::object Parser::extract_dpolygon(nb::handle polygon) {
  if (polygon.is_none())
    host::raise(PyExc_TypeError, "polygon must be a KLayout polygon, not None");
  access_.polygon_hull(polygon, hull_);
  return pool_polygon(hull_);
}

nb::object Parser::parse_cells(nb::handle cell) {
  CollectorPause pause;
  ParseSession session(*this);
  return session.parse_top(cell);
}

nb::object Parser::export_cells(bool combine) {
  CollectorPause pause;
  nb::list cells;
  {
    ParseSession session(*this);
    for (const nb::object& top : access_.top_cells()) cells.append(session.parse_top(top));
  }
  nb::object result = new_record(parsed_cells_schema);
  Record& record = *as_record(result);
  record[field::instances] = instances;
  record[field::layer_map] = layer_map;
  record[field::cells_or_layers] = cells;
  parsed_cells = result;
  if (combine) combine_references(*this, nb::cast(Output::CELL));
  return parsed_cells;
}

nb::dict Parser::instance_mapping() const {
  nb::dict result;
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    const ShapeKey& key = keys_[i];
    result[nb::make_tuple(key.cell, key.layer, key.position)] = nb::int_(i);
  }
  return result;
}

int Parser::traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  Parser* p = nb::inst_ptr<Parser>(self);
  for (const nb::object* member : {&p->layout, &p->layers, &p->curve_tolerance, &p->exclude_layers,
                                   &p->instances, &p->parsed_cells, &p->parsed_layers,
                                   &p->layer_map, &p->reverse_layer_map, &p->cell_index_map}) {
    Py_VISIT(member->ptr());
  }
  return 0;
}

int Parser::clear(PyObject* self) {
  Parser* p = nb::inst_ptr<Parser>(self);
  p->parsed_cells = nb::none();
  p->parsed_layers = nb::none();
  return 0;
}

}  // namespace tarnwick::depthview
