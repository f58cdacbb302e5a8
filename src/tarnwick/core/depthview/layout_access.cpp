#include "tarnwick/core/depthview/layout_access.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {

using host::as_double;
using host::as_int64;
using host::truthy;

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
  PyObject* result =
      PyObject_VectorcallMethod(name.ptr(), args, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
  if (result == nullptr) throw nb::python_error();
  return nb::steal(result);
}

nb::object get_attr(nb::handle self, nb::handle name) {
  PyObject* result = PyObject_GetAttr(self.ptr(), name.ptr());
  if (result == nullptr) throw nb::python_error();
  return nb::steal(result);
}

// Calls `visit` with each item of `iterable`, asking the iterator for its next item only until it
// reports the end: KLayout's iterators must not be advanced past their end (nanobind's range
// iteration asks once more).
template <typename Visit>
void each(nb::handle iterable, Visit&& visit) {
  nb::object iterator = nb::steal(PyObject_GetIter(iterable.ptr()));
  if (!iterator.is_valid()) throw nb::python_error();
  while (PyObject* item = PyIter_Next(iterator.ptr())) visit(nb::steal(item));
  if (PyErr_Occurred()) throw nb::python_error();
}

// The point-by-point path: to_dtype() without a database unit keeps database units as floats.
void hull_by_points(nb::handle polygon, Hull& hull) {
  hull.clear();
  nb::object floating = polygon.attr("to_dtype")();
  each(floating.attr("each_point_hull")(), [&](nb::handle point) {
    hull.push_back({as_double(point.attr("x")), as_double(point.attr("y"))});
  });
}

void hull_of(nb::handle polygon, bool polygon_bytes, Hull& hull) {
  if (polygon_bytes) {
    nb::object bytes = call_method(polygon, names().to_bytes);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) == 0 &&
        decode_polygon_bytes(data, static_cast<std::size_t>(size), hull)) {
      return;
    }
    PyErr_Clear();
  }
  hull_by_points(polygon, hull);
}

SimpleTrans simple_trans(nb::handle trans) {
  const std::int64_t code = as_int64(trans.attr("rot"));  // 0..3 rotations, 4..7 mirrored
  nb::object disp = trans.attr("disp");
  return {static_cast<int>(code & 3), code >= 4, as_int64(disp.attr("x")),
          as_int64(disp.attr("y"))};
}

Placements placements_of(nb::handle cell_inst) {
  Placements result;
  if (!truthy(cell_inst.attr("is_complex")())) {
    const std::int64_t count = as_int64(cell_inst.attr("size")());
    const SimpleTrans base = simple_trans(cell_inst.attr("trans"));
    if (count == 1) {
      result.native.push_back(base);
      return result;
    }
    if (truthy(cell_inst.attr("is_regular_array")())) {
      nb::object a = cell_inst.attr("a");
      nb::object b = cell_inst.attr("b");
      const std::int64_t ax = as_int64(a.attr("x")), ay = as_int64(a.attr("y"));
      const std::int64_t bx = as_int64(b.attr("x")), by = as_int64(b.attr("y"));
      const std::int64_t na = as_int64(cell_inst.attr("na"));
      const std::int64_t nb_ = as_int64(cell_inst.attr("nb"));
      if (na >= 0 && nb_ >= 0 && na * nb_ == count) {
        // KLayout's order: the a-index runs fastest.
        result.native.reserve(static_cast<std::size_t>(count));
        for (std::int64_t j = 0; j < nb_; ++j) {
          for (std::int64_t i = 0; i < na; ++i) {
            SimpleTrans t = base;
            t.dx += i * ax + j * bx;
            t.dy += i * ay + j * by;
            result.native.push_back(t);
          }
        }
        return result;
      }
    }
  }
  result.is_native = false;
  each(cell_inst.attr("each_trans")(),
       [&](nb::handle trans) { result.objects.push_back(nb::borrow(trans)); });
  return result;
}

}  // namespace

ShapeCursor::ShapeCursor(nb::object iterator, bool polygon_bytes)
    : iterator_(std::move(iterator)), polygon_bytes_(polygon_bytes) {}

bool ShapeCursor::next() {
  if (done_) return false;
  PyObject* item = PyIter_Next(iterator_.ptr());
  if (item == nullptr) {
    done_ = true;
    if (PyErr_Occurred()) throw nb::python_error();
    shape_.reset();
    return false;
  }
  shape_ = nb::steal(item);
  ++position_;
  return true;
}

ShapeKind ShapeCursor::hull(Hull& hull) {
  // One call gives the polygon form of polygons, boxes and paths; texts and the kinds without a
  // polygon form give None, and only then is the kind asked.
  nb::object polygon = get_attr(shape_, names().polygon);
  if (polygon.is_none()) {
    hull.clear();
    return truthy(call_method(shape_, names().is_text)) ? ShapeKind::text : ShapeKind::other;
  }
  hull_of(polygon, polygon_bytes_, hull);
  return ShapeKind::polygon;
}

std::string ShapeCursor::describe() { return nb::cast<std::string>(nb::str(nb::handle(shape_))); }

LayoutAccess::LayoutAccess(nb::handle layout) {
  nb::handle db = host::klayout_db.resolved();
  if (!nb::isinstance(layout, db.attr("Layout"))) {
    host::raise(PyExc_TypeError, "layout must be a klayout.db.Layout, not " +
                                     nb::cast<std::string>(nb::type_name(layout.type())));
  }
  layout_ = nb::borrow(layout);
  polygon_bytes_ = nb::hasattr(db.attr("Polygon"), "to_bytes");
}

double LayoutAccess::dbu() { return as_double(layout_.attr("dbu")); }

std::vector<LayerEntry> LayoutAccess::layers() {
  std::vector<LayerEntry> result;
  each(layout_.attr("layer_indices")(), [&](nb::handle index) {
    nb::object info = layout_.attr("get_info")(index);
    result.push_back({as_int64(index), info.attr("layer"), info.attr("datatype")});
  });
  return result;
}

std::vector<nb::object> LayoutAccess::cells() {
  std::vector<nb::object> result;
  each(layout_.attr("each_cell")(), [&](nb::handle cell) { result.push_back(nb::borrow(cell)); });
  return result;
}

std::vector<nb::object> LayoutAccess::top_cells() {
  std::vector<nb::object> result;
  each(layout_.attr("top_cells")(), [&](nb::handle cell) { result.push_back(nb::borrow(cell)); });
  return result;
}

std::int64_t LayoutAccess::cell_index(nb::handle cell) {
  return as_int64(cell.attr("cell_index")());
}

nb::object LayoutAccess::cell_name(nb::handle cell) { return cell.attr("name"); }

ShapeCursor LayoutAccess::shapes(nb::handle cell, std::int64_t layer) {
  nb::object iterator =
      nb::steal(PyObject_GetIter(cell.attr("shapes")(layer).attr("each")().ptr()));
  if (!iterator.is_valid()) throw nb::python_error();
  return ShapeCursor(std::move(iterator), polygon_bytes_);
}

std::vector<InstanceEntry> LayoutAccess::instances(nb::handle cell) {
  std::vector<InstanceEntry> result;
  each(cell.attr("each_inst")(), [&](nb::handle inst) {
    InstanceEntry entry;
    entry.cell_index = inst.attr("cell_index");
    entry.placements = placements_of(inst.attr("cell_inst"));
    result.push_back(std::move(entry));
  });
  return result;
}

void LayoutAccess::polygon_hull(nb::handle polygon, Hull& hull) {
  nb::handle db = host::klayout_db.resolved();
  const bool binary = polygon_bytes_ && (nb::isinstance(polygon, db.attr("Polygon")) ||
                                         nb::isinstance(polygon, db.attr("SimplePolygon")));
  hull_of(polygon, binary, hull);
}

}  // namespace tarnwick::depthview
