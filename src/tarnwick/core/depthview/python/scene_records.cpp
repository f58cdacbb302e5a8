#include "tarnwick/core/depthview/python/scene_records.hpp"

#include <nanobind/ndarray.h>

#include <vector>

#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/host/settings.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::checked;
using Tree = RecordViewerTree;

// A pool polygon (a sequence of (x, y) pairs) flattened into a float32 array x0, y0, x1, ...
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
      *out++ = static_cast<float>(host::as_double(nb::object(p[0])));
      *out++ = static_cast<float>(host::as_double(nb::object(p[1])));
    }
  });
}

}  // namespace

nb::object float32_array(std::size_t size, const std::function<void(float*)>& fill) {
  using Array = nb::ndarray<nb::numpy, float, nb::ndim<1>>;
  float* data = new float[size == 0 ? 1 : size];
  nb::capsule owner(data, [](void* p) noexcept { delete[] static_cast<float*>(p); });
  fill(data);
  return Array(data, {size}, owner).cast();
}

nb::object scene_records(const RecordViewerTree& tree, RecordView& view, const LayerTable& layers,
                         nb::handle pool_polygons, double units_per_micrometre) {
  write::check_text_size(tree, tree.by_layer ? 7 : 6, host::settings::max_message_bytes(),
                         [&](const Tree::Node& node) -> std::uint64_t {
                           switch (node.kind) {
                             case Tree::Kind::cell: {
                               nb::object name = nb::str(nb::handle(node.source).attr("name"));
                               return static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(name.ptr()));
                             }
                             case Tree::Kind::components:
                               return 10;
                             default:
                               return layers.name_size(node.layer);
                           }
                         });
  nb::kwargs root_fields;
  root_fields["name"] = tree.by_layer ? "Layers" : "Cells";
  root_fields["id"] = tree.by_layer ? "/Layers" : "/Cells";
  nb::object root = make_record(RecordKind::ViewerData, root_fields);

  struct Pending {
    std::uint32_t node;
    nb::object parts;   // the parent's `parts` list
    nb::object parent;  // the parent's id
  };
  std::vector<Pending> stack;
  nb::object root_parts = root.attr("parts");
  for (auto r = tree.roots.rbegin(); r != tree.roots.rend(); ++r) {
    stack.push_back({*r, root_parts, root.attr("id")});
  }
  // Records are made parent first; each parent's children go on the stack in reverse, so that
  // they are taken, and appended to its list, in order.
  std::vector<model::Placement> placements;
  while (!stack.empty()) {
    Pending pending = std::move(stack.back());
    stack.pop_back();
    const auto& node = tree.nodes[pending.node];
    nb::object name;
    switch (node.kind) {
      case Tree::Kind::cell:
        name = nb::handle(node.source).attr("name");
        break;
      case Tree::Kind::components:
        name = nb::str("components");
        break;
      default:
        name = layers.values(node.layer).name;
    }
    nb::object id = nb::str("{}/{}").format(pending.parent, name);
    nb::kwargs fields;
    fields["name"] = name;
    fields["id"] = id;
    nb::object record;
    if (node.kind == Tree::Kind::cell || node.kind == Tree::Kind::layer_group) {
      record = make_record(RecordKind::Parts, fields);
      nb::object parts = record.attr("parts");
      for (auto c = node.children.rbegin(); c != node.children.rend(); ++c) {
        stack.push_back({*c, parts, id});
      }
    } else {
      const LayerTable::Values& layer = layers.values(node.layer);
      nb::kwargs shape_fields;
      shape_fields["refs"] = nb::borrow(node.refs);
      shape_fields["height"] = layer.height;
      if (view.is_reference(node.source)) {
        placements.clear();
        view.placements(node.source, placements);
        shape_fields["matrices"] = float32_array(6 * placements.size(), [&](float* out) {
          for (const model::Placement& p : placements) {
            for (const double v : p.matrix(units_per_micrometre)) *out++ = static_cast<float>(v);
          }
        });
      }
      fields["shape"] = make_record(RecordKind::Shape, shape_fields);
      fields["color"] = layer.color;
      fields["loc"] = layer.loc;
      record = make_record(RecordKind::Part, fields);
    }
    if (PyList_Append(pending.parts.ptr(), record.ptr()) != 0) throw nb::python_error();
  }
  nb::object pool = root.attr("instances");
  for (nb::handle polygon : pool_polygons) {
    if (PyList_Append(pool.ptr(), flat_polygon(polygon).ptr()) != 0) throw nb::python_error();
  }
  return root;
}

}  // namespace tarnwick::depthview::python
