#include "tarnwick/core/depthview/read/python_api_reader.hpp"

#include <nanobind/stl/string.h>

#include <cstring>

#include "tarnwick/core/depthview/read/klayout_bytes.hpp"
#include "tarnwick/core/depthview/read/klayout_objects.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/klayout.hpp"

namespace tarnwick::depthview::read {

namespace {

namespace klayout = host::klayout;
using model::Placement;

// Calls `visit` with each item of `iterable`, asking the iterator for its next item only until it
// reports the end: KLayout's iterators must not be advanced past their end.
template <typename Visit>
void each(nb::handle iterable, Visit&& visit) {
  nb::object iterator = host::checked(PyObject_GetIter(iterable.ptr()));
  while (PyObject* item = PyIter_Next(iterator.ptr())) visit(nb::steal(item));
  if (PyErr_Occurred()) throw nb::python_error();
}

// The bytes of a bytes object, or an empty view when `value` is not one.
std::string_view bytes_of(nb::handle value) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(value.ptr(), &data, &size) != 0) {
    PyErr_Clear();
    return {};
  }
  return {data, static_cast<std::size_t>(size)};
}

}  // namespace

PythonApiReader::PythonApiReader(nb::handle layout) {
  if (!nb::isinstance(layout, klayout::layout_type())) {
    host::raise(PyExc_TypeError, "layout must be a klayout.db.Layout, not " +
                                     nb::cast<std::string>(nb::type_name(layout.type())));
  }
  layout_ = nb::borrow(layout);
  polygon_bytes_ = klayout::polygon_has_bytes();
  trans_bytes_ = klayout::complex_trans_has_bytes();
}

double PythonApiReader::dbu() { return klayout::dbu(layout_); }

std::vector<LayerInfo> PythonApiReader::layers() {
  std::vector<LayerInfo> result;
  each(klayout::layer_indices(layout_), [&](nb::handle index) {
    const klayout::LayerNumbers numbers = klayout::layer_numbers(layout_, index);
    result.push_back({host::as_int64(index), numbers.layer, numbers.datatype});
  });
  return result;
}

std::vector<std::int64_t> PythonApiReader::cells() {
  std::vector<std::int64_t> result;
  each(klayout::each_cell(layout_), [&](nb::handle cell) {
    const std::int64_t index = klayout::cell_index(cell);
    cells_[index] = nb::borrow(cell);
    result.push_back(index);
  });
  return result;
}

std::vector<std::int64_t> PythonApiReader::top_cells() {
  std::vector<std::int64_t> result;
  each(klayout::top_cells(layout_), [&](nb::handle cell) {
    const std::int64_t index = klayout::cell_index(cell);
    cells_.try_emplace(index, nb::borrow(cell));
    result.push_back(index);
  });
  return result;
}

nb::handle PythonApiReader::cell_object(std::int64_t cell) {
  auto found = cells_.find(cell);
  if (found == cells_.end()) {
    found = cells_.emplace(cell, klayout::cell_by_index(layout_, cell)).first;
    if (found->second.is_none()) {
      cells_.erase(found);
      PyErr_SetObject(PyExc_KeyError, nb::int_(cell).ptr());
      throw nb::python_error();
    }
  }
  return found->second;
}

std::string PythonApiReader::cell_name(std::int64_t cell) {
  nb::object name = klayout::cell_name(cell_object(cell));
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.ptr(), &size);
  if (text == nullptr) throw nb::python_error();
  return {text, static_cast<std::size_t>(size)};
}

std::uint32_t PythonApiReader::polygon_hull(nb::handle polygon,
                                            std::vector<std::int64_t>& coordinates) {
  if (polygon_bytes_) {
    const std::size_t before = coordinates.size();
    nb::object bytes = klayout::to_bytes(polygon);
    const std::string_view data = bytes_of(bytes);
    if (!data.empty() && decode_polygon_hull(data, coordinates)) {
      return static_cast<std::uint32_t>((coordinates.size() - before) / 2);
    }
    coordinates.resize(before);
  }
  // The point-by-point path: the hull in database units.
  std::uint32_t count = 0;
  each(klayout::hull_points(polygon), [&](nb::handle point) {
    const klayout::XY p = klayout::xy(point);
    coordinates.push_back(static_cast<std::int64_t>(p.x));
    coordinates.push_back(static_cast<std::int64_t>(p.y));
    ++count;
  });
  return count;
}

void PythonApiReader::shapes(std::int64_t cell, std::int64_t layer, ShapeBatch& batch) {
  batch.clear();
  each(klayout::each_shape(cell_object(cell), layer), [&](nb::handle shape) {
    // One call gives the polygon form of polygons, boxes and paths; texts and the kinds without a
    // polygon form give None, and only then is the kind asked.
    nb::object polygon = klayout::shape_polygon(shape);
    if (polygon.is_none()) {
      const bool text = klayout::shape_is_text(shape);
      batch.kinds.push_back(text ? ShapeKind::text : ShapeKind::other);
      batch.hull_sizes.push_back(0);
      if (!text && batch.first_other.empty()) {
        batch.first_other = nb::cast<std::string>(nb::str(shape));
      }
      return;
    }
    batch.kinds.push_back(ShapeKind::polygon);
    batch.hull_sizes.push_back(polygon_hull(polygon, batch.coordinates));
  });
}

void PythonApiReader::cell_instances(std::int64_t cell, std::vector<CellInstance>& out) {
  out.clear();
  each(klayout::each_instance(cell_object(cell)), [&](nb::handle inst) {
    const klayout::InstanceArray array = klayout::instance_array(inst);
    CellInstance info;
    info.target = array.target;
    model::CellInstancePlacements& placements = info.placements;
    auto placement_of = [&](nb::handle trans) -> Placement {
      return array.complex ? complex_placement(trans, false, trans_bytes_)
                           : simple_placement(trans, false);
    };
    placements.base = placement_of(klayout::array_trans(array));
    if (array.size != 1) {
      const klayout::RegularArray regular = klayout::regular_array(array);
      if (regular.regular && regular.na >= 0 && regular.nb >= 0 &&
          regular.na * regular.nb == array.size) {
        const klayout::ArrayVectors vectors = klayout::array_vectors(array);
        placements.na = regular.na;
        placements.nb = regular.nb;
        placements.ax = vectors.a.x;
        placements.ay = vectors.a.y;
        placements.bx = vectors.b.x;
        placements.by = vectors.b.y;
      } else {
        each(klayout::each_element_trans(array),
             [&](nb::handle trans) { placements.explicit_list.push_back(placement_of(trans)); });
        if (placements.explicit_list.empty()) placements.na = placements.nb = 0;
      }
    }
    out.push_back(std::move(info));
  });
}

}  // namespace tarnwick::depthview::read
