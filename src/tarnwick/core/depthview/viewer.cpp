#include "tarnwick/core/depthview/viewer.hpp"

#include <nanobind/ndarray.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/combine.hpp"
#include "tarnwick/core/depthview/ktrans.hpp"
#include "tarnwick/core/depthview/parser.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {

using host::checked;
using host::non_empty;

using Float32Array = nb::ndarray<nb::numpy, float, nb::ndim<1>>;

// A new numpy float32 array of `size` elements whose memory `fill` writes.
template <typename Fill>
nb::object float32_array(std::size_t size, Fill&& fill) {
  float* data = new float[size == 0 ? 1 : size];
  nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<float*>(p); });
  fill(data);
  return Float32Array(data, {size}, owner).cast();
}

nb::dict expect_dict(nb::handle value, const char* what) {
  if (!PyDict_Check(value.ptr())) {
    host::raise(PyExc_TypeError,
                std::string(what) + " must be a dict, not " + Py_TYPE(value.ptr())->tp_name);
  }
  return nb::borrow<nb::dict>(value);
}

nb::str join_id(nb::handle parent, nb::handle name) {
  return nb::str("{}/{}").format(parent, name);
}

// The placement matrices of a reference's transforms, six float32 values per placement, row by
// row, displacements in micrometres, written straight into the array.
nb::object placement_matrices(nb::handle trans, double units_per_micrometre) {
  nb::object items = checked(PySequence_Fast(trans.ptr(), "trans must be a sequence"));
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
  return float32_array(static_cast<std::size_t>(6 * count), [&](float* out) {
    for (Py_ssize_t i = 0; i < count; ++i) {
      nb::handle t(PySequence_Fast_GET_ITEM(items.ptr(), i));
      std::array<double, 6> row{};
      if (KTrans* k = as_ktrans(t)) {
        row = k->matrix(units_per_micrometre);
      } else {
        // Anything else offering trans_matrix() in the wrapped transformation's units.
        nb::object m = t.attr("trans_matrix")();
        for (std::size_t r = 0; r < 2; ++r) {
          for (std::size_t c = 0; c < 3; ++c) {
            row[3 * r + c] = nb::cast<double>(m[nb::int_(r)][nb::int_(c)]);
          }
        }
        row[2] /= units_per_micrometre;
        row[5] /= units_per_micrometre;
      }
      for (double value : row) *out++ = static_cast<float>(value);
    }
  });
}

// A pool polygon (a sequence of (x, y) pairs) flattened into a float32 array x0, y0, x1, ...,
// written straight into the array.
nb::object flat_polygon(nb::handle polygon) {
  nb::object points = checked(PySequence_Fast(polygon.ptr(), "a polygon must be a sequence"));
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(points.ptr());
  return float32_array(static_cast<std::size_t>(2 * n), [&](float* out) {
    for (Py_ssize_t i = 0; i < n; ++i) {
      PyObject* point = PySequence_Fast_GET_ITEM(points.ptr(), i);
      if (PyTuple_CheckExact(point) && PyTuple_GET_SIZE(point) == 2 &&
          PyFloat_CheckExact(PyTuple_GET_ITEM(point, 0)) &&
          PyFloat_CheckExact(PyTuple_GET_ITEM(point, 1))) {
        *out++ = static_cast<float>(PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(point, 0)));
        *out++ = static_cast<float>(PyFloat_AS_DOUBLE(PyTuple_GET_ITEM(point, 1)));
        continue;
      }
      nb::handle p(point);
      nb::object x = p[0];
      nb::object y = p[1];
      *out++ = static_cast<float>(nb::cast<double>(x));
      *out++ = static_cast<float>(nb::cast<double>(y));
    }
  });
}

// The per-layer values of one conversion, looked up once per layer.
struct LayerLook {
  nb::object name;
  nb::object height;
  nb::object color;
  nb::object loc;
  bool excluded;
};

class Converter {
 public:
  explicit Converter(Parser& parser) : parser_(parser) {}

  const LayerLook& look(nb::handle spec) {
    nb::object key = nb::borrow(spec);
    PyObject* known = PyDict_GetItemWithError(index_.ptr(), key.ptr());
    if (known != nullptr) return looks_[PyLong_AsSize_t(known)];
    if (PyErr_Occurred()) throw nb::python_error();
    LayerLook look;
    look.name = parser_.get_name(spec);
    look.height = nb::float_(parser_.get_height(spec));
    look.color = parser_.get_color(spec);
    look.loc =
        nb::make_tuple(nb::make_tuple(0, 0, parser_.get_zmin(spec)), nb::make_tuple(0, 0, 0, 1));
    look.excluded = exclude(parser_, look.name);
    index_[key] = nb::int_(looks_.size());
    looks_.push_back(std::move(look));
    return looks_.back();
  }

  nb::object part(const LayerLook& layer, nb::handle name, nb::handle id, nb::handle refs,
                  const Record& cell) {
    nb::object shape = new_record(shape_schema);
    Record& s = *as_record(shape);
    s[field::refs] = nb::borrow(refs);
    s[field::height] = layer.height;
    if (is_kind(cell, reference_schema)) {
      s[field::matrices] = placement_matrices(cell[field::trans], parser_.units_per_micrometre());
    }
    nb::object part = new_record(part_schema);
    Record& p = *as_record(part);
    p[field::node_name] = nb::borrow(name);
    p[field::id] = nb::borrow(id);
    p[field::shape] = shape;
    p[field::part_color] = layer.color;
    p[field::loc] = layer.loc;
    return part;
  }

  static nb::object parts_node(nb::handle name, nb::handle id) {
    nb::object node = new_record(parts_schema);
    Record& r = *as_record(node);
    r[field::node_name] = nb::borrow(name);
    r[field::id] = nb::borrow(id);
    return node;
  }

  nb::list convert_cells(nb::handle cells, nb::handle parent, nb::handle layer_map) {
    nb::list result;
    for (nb::handle cell : cells) {
      Record& record = expect_record(cell, cell_schema, "a parsed cell");
      nb::handle name = record[field::name];
      nb::str id = join_id(parent, name);
      nb::object node = parts_node(name, id);
      nb::object children = (*as_record(node))[field::parts];
      for (auto [layer_id, refs] : expect_dict(record[field::polygons], "Cell.polygons")) {
        nb::object index = checked(PyNumber_Long(layer_id.ptr()));
        nb::object spec = checked(PySequence_Tuple(nb::object(layer_map[index]).ptr()));
        const LayerLook& layer = look(spec);
        if (layer.excluded) continue;
        children.attr("append")(part(layer, layer.name, join_id(id, layer.name), refs, record));
      }
      if (non_empty(record[field::references])) {
        nb::list below = convert_cells(record[field::references], id, layer_map);
        children.attr("extend")(below);
      }
      if (non_empty(children)) result.append(node);
    }
    return result;
  }

  nb::object convert_layer(nb::handle spec, const LayerLook& layer, nb::handle cell,
                           nb::handle parent) {
    Record& record = expect_record(cell, cell_schema, "a parsed cell");
    nb::handle name = record[field::name];
    nb::str id = join_id(parent, name);
    nb::object node = parts_node(name, id);
    nb::object children = (*as_record(node))[field::parts];
    if (non_empty(record[field::polygons])) {
      nb::object index = parser_.reverse_layer_map[spec];
      nb::object key = nb::str(nb::handle(index));  // the text form of the layer index
      nb::object refs = record[field::polygons][key];
      nb::str components("components");
      children.attr("append")(part(layer, components, join_id(id, components), refs, record));
    }
    for (nb::handle reference : record[field::references]) {
      children.attr("append")(convert_layer(spec, layer, reference, id));
    }
    return node;
  }

 private:
  Parser& parser_;
  nb::dict index_;
  std::deque<LayerLook> looks_;  // stable addresses: callers hold references
};

void fill_instances(Record& root, nb::handle pool) {
  nb::object instances = root[field::viewer_instances];
  for (nb::handle polygon : pool) {
    if (PyList_Append(instances.ptr(), flat_polygon(polygon).ptr()) != 0) throw nb::python_error();
  }
}

}  // namespace

bool exclude(Parser& parser, nb::handle layer_name) {
  nb::object name = nb::str(layer_name).attr("lower")();
  for (nb::handle pattern : parser.exclude_layers) {
    nb::object lowered = nb::str(pattern).attr("lower")();
    if (nb::cast<bool>(host::fnmatch_fnmatchcase.get()(name, lowered))) return true;
  }
  return false;
}

nb::object to_viewer(Parser& parser, nb::handle output) {
  CollectorPause pause;
  Converter converter(parser);
  if (output.is(nb::cast(Output::CELL))) {
    if (parser.parsed_cells.is_none()) host::raise_assertion();
    if (!parser.cell_combined) combine_references(parser, output);
    Record& parsed = expect_record(parser.parsed_cells, parsed_cells_schema, "parsed_cells");
    nb::object root = new_record(viewer_data_schema);
    Record& r = *as_record(root);
    r[field::node_name] = nb::str("Cells");
    r[field::id] = nb::str("/Cells");
    r[field::parts] = converter.convert_cells(parsed[field::cells_or_layers], r[field::id],
                                              parsed[field::layer_map]);
    fill_instances(r, parsed[field::instances]);
    return root;
  }
  if (output.is(nb::cast(Output::LAYER))) {
    if (!parser.layer_combined) combine_references(parser, output);
    nb::object root = new_record(viewer_data_schema);
    Record& r = *as_record(root);
    r[field::node_name] = nb::str("Layers");
    r[field::id] = nb::str("/Layers");
    if (parser.parsed_layers.is_none()) host::raise_assertion();
    Record& parsed = expect_record(parser.parsed_layers, parsed_layers_schema, "parsed_layers");
    nb::dict layer_nodes;  // layer id text -> its node, in first-seen order
    for (nb::handle trees : parsed[field::cells_or_layers]) {
      for (auto [layer_id, cell] : expect_dict(trees, "a layer map")) {
        nb::object index = checked(PyNumber_Long(layer_id.ptr()));
        PyObject* found = PyDict_GetItemWithError(
            expect_dict(parser.layer_map, "ParseGDS.layer_map").ptr(), index.ptr());
        if (found == nullptr) {
          if (PyErr_Occurred()) throw nb::python_error();
          continue;
        }
        nb::object spec = nb::borrow(found);
        const LayerLook& layer = converter.look(spec);
        if (layer.excluded) continue;
        PyObject* existing = PyDict_GetItemWithError(layer_nodes.ptr(), layer_id.ptr());
        nb::object node;
        if (existing != nullptr) {
          node = nb::borrow(existing);
        } else {
          if (PyErr_Occurred()) throw nb::python_error();
          node = Converter::parts_node(layer.name, join_id(r[field::id], layer.name));
          layer_nodes[layer_id] = node;
          r[field::parts].attr("append")(node);
        }
        Record& n = *as_record(node);
        n[field::parts].attr("append")(converter.convert_layer(spec, layer, cell, n[field::id]));
      }
    }
    fill_instances(r, parsed[field::instances]);
    return root;
  }
  host::raise(PyExc_ValueError, "Unknown output " + nb::cast<std::string>(nb::str(output)));
}

bool asdict_omits(nb::handle value) {
  PyObject* v = value.ptr();
  return (PyList_Check(v) || PyTuple_Check(v) || PyDict_Check(v)) && PyObject_Length(v) == 0;
}

nb::object float32_vector(const float* values, std::size_t size) {
  return float32_array(size, [&](float* out) { std::copy(values, values + size, out); });
}

nb::object asdict(nb::handle obj) {
  if (Record* record = as_record(obj)) {
    nb::dict result;
    for (std::size_t i = 0; i < record->schema->fields.size(); ++i) {
      nb::handle value = record->values[i];
      if (asdict_omits(value)) continue;
      result[record->schema->fields[i].name] = asdict(value);
    }
    return result;
  }
  if (KTrans* k = as_ktrans(obj)) return k->to_dict();
  if (nb::hasattr(obj, "to_dict")) return obj.attr("to_dict")();
  if (PyList_Check(obj.ptr()) || PyTuple_Check(obj.ptr())) {
    nb::list result;
    for (nb::handle item : obj) result.append(asdict(item));
    return result;
  }
  if (PyDict_Check(obj.ptr())) {
    nb::dict result;
    for (auto [key, value] : nb::borrow<nb::dict>(obj)) result[key] = asdict(value);
    return result;
  }
  return nb::borrow(obj);
}

nb::str create_json(nb::handle data) {
  return host::json::dumps(asdict(data), host::json::Style::scene);
}

}  // namespace tarnwick::depthview
