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

using host::as_double;
using host::as_int64;
using host::truthy;
using model::Placement;

// Interned attribute names, made once: the per-shape calls look them up by pointer.
struct Names {
  nb::object polygon = nb::steal(PyUnicode_InternFromString("polygon"));
  nb::object to_bytes = nb::steal(PyUnicode_InternFromString("to_bytes"));
  nb::object is_text = nb::steal(PyUnicode_InternFromString("is_text"));
};

Names& names() {
  static Names* n = new Names();  // lives as long as the process
  return *n;
}

nb::object call_method(nb::handle self, nb::handle name) {
  PyObject* args[] = {self.ptr()};
  return host::checked(
      PyObject_VectorcallMethod(name.ptr(), args, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

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

Placement simple_placement(nb::handle trans, bool floating) {
  const std::int64_t code = as_int64(trans.attr("rot"));  // 0..3 rotations, 4..7 mirrored
  nb::object disp = trans.attr("disp");
  return Placement::simple(static_cast<int>(code & 3), code >= 4, as_double(disp.attr("x")),
                           as_double(disp.attr("y")), floating);
}

}  // namespace

PythonApiReader::PythonApiReader(nb::handle layout) {
  if (!nb::isinstance(layout, host::klayout::layout_type())) {
    host::raise(PyExc_TypeError, "layout must be a klayout.db.Layout, not " +
                                     nb::cast<std::string>(nb::type_name(layout.type())));
  }
  layout_ = nb::borrow(layout);
  polygon_bytes_ = host::klayout::polygon_has_bytes();
  trans_bytes_ = host::klayout::complex_trans_has_bytes();
}

double PythonApiReader::dbu() { return as_double(layout_.attr("dbu")); }

std::vector<LayerInfo> PythonApiReader::layers() {
  std::vector<LayerInfo> result;
  each(layout_.attr("layer_indices")(), [&](nb::handle index) {
    nb::object info = layout_.attr("get_info")(index);
    result.push_back(
        {as_int64(index), as_int64(info.attr("layer")), as_int64(info.attr("datatype"))});
  });
  return result;
}

std::vector<std::int64_t> PythonApiReader::cells() {
  std::vector<std::int64_t> result;
  each(layout_.attr("each_cell")(), [&](nb::handle cell) {
    const std::int64_t index = as_int64(cell.attr("cell_index")());
    cells_[index] = nb::borrow(cell);
    result.push_back(index);
  });
  return result;
}

std::vector<std::int64_t> PythonApiReader::top_cells() {
  std::vector<std::int64_t> result;
  each(layout_.attr("top_cells")(), [&](nb::handle cell) {
    const std::int64_t index = as_int64(cell.attr("cell_index")());
    cells_.try_emplace(index, nb::borrow(cell));
    result.push_back(index);
  });
  return result;
}

nb::handle PythonApiReader::cell_object(std::int64_t cell) {
  auto found = cells_.find(cell);
  if (found == cells_.end()) {
    found = cells_.emplace(cell, layout_.attr("cell")(cell)).first;
    if (found->second.is_none()) {
      cells_.erase(found);
      PyErr_SetObject(PyExc_KeyError, nb::int_(cell).ptr());
      throw nb::python_error();
    }
  }
  return found->second;
}

std::string PythonApiReader::cell_name(std::int64_t cell) {
  nb::object name = cell_object(cell).attr("name");
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(name.ptr(), &size);
  if (text == nullptr) throw nb::python_error();
  return {text, static_cast<std::size_t>(size)};
}

std::uint32_t PythonApiReader::polygon_hull(nb::handle polygon,
                                            std::vector<std::int64_t>& coordinates) {
  if (polygon_bytes_) {
    const std::size_t before = coordinates.size();
    nb::object bytes = call_method(polygon, names().to_bytes);
    const std::string_view data = bytes_of(bytes);
    if (!data.empty() && decode_polygon_hull(data, coordinates)) {
      return static_cast<std::uint32_t>((coordinates.size() - before) / 2);
    }
    coordinates.resize(before);
  }
  // The point-by-point path: to_dtype() without a database unit keeps database units.
  std::uint32_t count = 0;
  each(polygon.attr("to_dtype")().attr("each_point_hull")(), [&](nb::handle point) {
    coordinates.push_back(static_cast<std::int64_t>(as_double(point.attr("x"))));
    coordinates.push_back(static_cast<std::int64_t>(as_double(point.attr("y"))));
    ++count;
  });
  return count;
}

void PythonApiReader::shapes(std::int64_t cell, std::int64_t layer, ShapeBatch& batch) {
  batch.clear();
  nb::object all = cell_object(cell).attr("shapes")(layer).attr("each")();
  each(all, [&](nb::handle shape) {
    // One call gives the polygon form of polygons, boxes and paths; texts and the kinds without a
    // polygon form give None, and only then is the kind asked.
    nb::object polygon = host::checked(PyObject_GetAttr(shape.ptr(), names().polygon.ptr()));
    if (polygon.is_none()) {
      const bool text = truthy(call_method(shape, names().is_text));
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
  each(cell_object(cell).attr("each_inst")(), [&](nb::handle inst) {
    CellInstance info;
    info.target = as_int64(inst.attr("cell_index"));
    nb::object array = inst.attr("cell_inst");
    model::CellInstancePlacements& placements = info.placements;
    const bool complex = truthy(array.attr("is_complex")());
    auto placement_of = [&](nb::handle trans) -> Placement {
      if (!complex) return simple_placement(trans, false);
      if (trans_bytes_) {
        Placement p;
        if (decode_complex_trans(bytes_of(call_method(trans, names().to_bytes)), false, p)) {
          return p;
        }
      }
      return complex_placement_from_attributes(trans, false);
    };
    placements.base = placement_of(complex ? array.attr("cplx_trans") : array.attr("trans"));
    const std::int64_t count = as_int64(array.attr("size")());
    if (count != 1) {
      const bool regular = truthy(array.attr("is_regular_array")());
      const std::int64_t na = regular ? as_int64(array.attr("na")) : 0;
      const std::int64_t nb_ = regular ? as_int64(array.attr("nb")) : 0;
      if (regular && na >= 0 && nb_ >= 0 && na * nb_ == count) {
        nb::object a = array.attr("a");
        nb::object b = array.attr("b");
        placements.na = na;
        placements.nb = nb_;
        placements.ax = as_double(a.attr("x"));
        placements.ay = as_double(a.attr("y"));
        placements.bx = as_double(b.attr("x"));
        placements.by = as_double(b.attr("y"));
      } else {
        each(array.attr(complex ? "each_cplx_trans" : "each_trans")(),
             [&](nb::handle trans) { placements.explicit_list.push_back(placement_of(trans)); });
        if (placements.explicit_list.empty()) placements.na = placements.nb = 0;
      }
    }
    out.push_back(std::move(info));
  });
}

}  // namespace tarnwick::depthview::read
