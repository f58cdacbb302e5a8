#include "tarnwick/core/depthview/direct/direct_reader.hpp"

#include <cstring>
#include <limits>
#include <string>

#include "dbCell.h"
#include "dbInstances.h"
#include "dbLayout.h"
#include "dbShape.h"
#include "dbShapes.h"
#include "tarnwick/core/depthview/direct/layout_object.hpp"
#include "tarnwick/host/errors.hpp"
#include "tlException.h"

namespace tarnwick::depthview::direct {

namespace {

using model::Placement;
using read::CellInstance;
using read::ShapeKind;

// KLayout's Python API converts indices to 32-bit unsigned arguments and reports values beyond
// that range as TypeError; these are its texts.
unsigned int index_argument(std::int64_t value, const char* argument, const char* method) {
  if (value < 0 || value > std::numeric_limits<unsigned int>::max()) {
    host::raise(PyExc_TypeError,
                "Value out of range: " + std::to_string(static_cast<std::uint64_t>(value)) +
                    ", max value is 4294967295 for argument #1 ('" + argument + "') in " + method);
  }
  return static_cast<unsigned int>(value);
}

const db::Cell& cell_of(const db::Layout& layout, std::int64_t index) {
  const unsigned int ci = index_argument(index, "i", "Layout.cell");
  if (!layout.is_valid_cell_index(ci)) {
    host::raise(PyExc_RuntimeError,
                "Not a valid cell index: " + std::to_string(ci) + " in Layout.cell");
  }
  return layout.cell(ci);
}

// `text` as KLayout's Python API hands it out: decoded as UTF-8 (strictly, as Python does), an
// invalid text being a RuntimeError "<error kind>: <error text> in <method>".
std::string python_text(const char* text, const char* method) {
  const std::size_t size = std::strlen(text);
  if (PyObject* decoded = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), nullptr)) {
    Py_DECREF(decoded);
    return {text, size};
  }
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  std::string message = reinterpret_cast<PyTypeObject*>(type)->tp_name;
  if (PyObject* description = value != nullptr ? PyObject_Str(value) : nullptr) {
    if (const char* utf8 = PyUnicode_AsUTF8(description)) message += std::string(": ") + utf8;
    Py_DECREF(description);
  }
  PyErr_Clear();
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  host::raise(PyExc_RuntimeError, message + " in " + method);
}

Placement simple_placement(const db::Trans& trans) {
  const int code = trans.rot();  // 0..3 rotations, 4..7 mirrored
  return Placement::simple(code & 3, code >= 4, static_cast<double>(trans.disp().x()),
                           static_cast<double>(trans.disp().y()), false);
}

// As KLayout stores a complex transformation: sine, cosine, magnification signed by the mirror;
// the displacement in integer units, as ICplxTrans gives it.
Placement complex_placement(const db::ICplxTrans& trans) {
  const db::Vector disp = trans.disp();
  return Placement::complex_from(
      trans.msin(), trans.mcos(), trans.is_mirror() ? -trans.mag() : trans.mag(),
      static_cast<double>(disp.x()), static_cast<double>(disp.y()), false);
}

// Runs `body`, turning KLayout's own exceptions into RuntimeError with their text.
template <typename Body>
decltype(auto) klayout_call(Body&& body) {
  try {
    return body();
  } catch (const tl::Exception& error) {
    host::raise(PyExc_RuntimeError, error.msg());
  }
}

}  // namespace

DirectReader::DirectReader(PyObject* owner, PyObject* layout_type, db::Layout* layout)
    : owner_(owner), layout_type_(layout_type), layout_(layout) {
  Py_INCREF(owner_);
  Py_INCREF(layout_type_);
}

DirectReader::~DirectReader() {
  Py_DECREF(owner_);
  Py_DECREF(layout_type_);
}

const db::Layout& DirectReader::layout() {
  std::string why_not;
  db::Layout* current = layout_behind(owner_, layout_type_, why_not);
  if (current != layout_) {
    host::raise(PyExc_RuntimeError,
                current == nullptr ? why_not : "the layout object's C++ layout changed");
  }
  return *layout_;
}

double DirectReader::dbu() { return layout().dbu(); }

std::vector<read::LayerInfo> DirectReader::layers() {
  const db::Layout& ly = layout();
  std::vector<read::LayerInfo> result;
  for (unsigned int i = 0; i < ly.layers(); ++i) {
    if (!ly.is_valid_layer(i)) continue;
    const db::LayerProperties& properties = ly.get_properties(i);
    result.push_back({i, properties.layer, properties.datatype});
  }
  return result;
}

std::vector<std::int64_t> DirectReader::cells() {
  const db::Layout& ly = layout();
  std::vector<std::int64_t> result;
  result.reserve(ly.cells());
  for (auto cell = ly.begin(); cell != ly.end(); ++cell) result.push_back(cell->cell_index());
  return result;
}

std::vector<std::int64_t> DirectReader::top_cells() {
  const db::Layout& ly = layout();
  return klayout_call([&] {
    std::vector<std::int64_t> result;
    for (auto top = ly.begin_top_down(); top != ly.end_top_cells(); ++top) result.push_back(*top);
    return result;
  });
}

std::string DirectReader::cell_name(std::int64_t cell) {
  const db::Layout& ly = layout();
  const db::Cell& c = cell_of(ly, cell);
  return python_text(ly.cell_name(c.cell_index()), "Cell.name");
}

void DirectReader::shapes(std::int64_t cell, std::int64_t layer, read::ShapeBatch& batch) {
  batch.clear();
  const db::Cell& c = cell_of(layout(), cell);
  const db::Shapes& shapes = c.shapes(index_argument(layer, "layer_index", "Cell.shapes"));
  klayout_call([&] {
    db::Polygon polygon;
    for (auto shape = shapes.begin(db::ShapeIterator::All); !shape.at_end(); ++shape) {
      // The polygon form, as Shape.polygon gives it: polygons, simple polygons, boxes, paths.
      if (shape->polygon(polygon)) {
        const auto& hull = polygon.hull();
        const std::size_t count = hull.size();
        batch.kinds.push_back(ShapeKind::polygon);
        batch.hull_sizes.push_back(static_cast<std::uint32_t>(count));
        const std::size_t before = batch.coordinates.size();
        batch.coordinates.resize(before + 2 * count);
        std::int64_t* out = batch.coordinates.data() + before;
        for (std::size_t i = 0; i < count; ++i) {
          const db::Point point = hull[i];
          *out++ = point.x();
          *out++ = point.y();
        }
        continue;
      }
      const bool text = shape->is_text();
      batch.kinds.push_back(text ? ShapeKind::text : ShapeKind::other);
      batch.hull_sizes.push_back(0);
      // Edges, edge pairs and points: their text holds only coordinates and is plain ASCII.
      if (!text && batch.first_other.empty()) batch.first_other = shape->to_string();
    }
  });
}

void DirectReader::cell_instances(std::int64_t cell, std::vector<CellInstance>& out) {
  out.clear();
  const db::Cell& c = cell_of(layout(), cell);
  klayout_call([&] {
    for (auto inst = c.begin(); !inst.at_end(); ++inst) {
      const db::CellInstArray& array = inst->cell_inst();
      CellInstance info;
      info.target = array.object().cell_index();
      model::CellInstancePlacements& placements = info.placements;
      const bool complex = array.is_complex();
      placements.base =
          complex ? complex_placement(array.complex_trans()) : simple_placement(array.front());
      const std::size_t count = array.size();
      if (count != 1) {
        db::Vector a, b;
        unsigned long na = 0, nb = 0;
        const bool regular = array.is_regular_array(a, b, na, nb);
        if (regular && static_cast<std::uint64_t>(na) * nb == count) {
          placements.na = static_cast<std::int64_t>(na);
          placements.nb = static_cast<std::int64_t>(nb);
          placements.ax = a.x();
          placements.ay = a.y();
          placements.bx = b.x();
          placements.by = b.y();
        } else {
          // Irregular arrays: every placement, in KLayout's order.
          for (auto element = array.begin(); !element.at_end(); ++element) {
            placements.explicit_list.push_back(
                complex ? complex_placement(array.complex_trans(*element))
                        : simple_placement(*element));
          }
          if (placements.explicit_list.empty()) placements.na = placements.nb = 0;
        }
      }
      out.push_back(std::move(info));
    }
  });
}

}  // namespace tarnwick::depthview::direct
