#include "tarnwick/core/depthview/python/record_view.hpp"

#include <nanobind/stl/string.h>

#include <string>

#include "tarnwick/core/depthview/python/ktrans.hpp"
#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/python_text.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::checked;

std::string name_of_type(nb::handle value) { return host::utf8_text_of(host::name_of_type(value)); }

}  // namespace

PyObject* RecordView::hold(nb::object object) {
  PyObject* raw = object.ptr();
  held_.push_back(std::move(object));
  return raw;
}

const std::vector<RecordView::Node>& RecordView::children(Node node) {
  auto [found, fresh] = children_.try_emplace(node);
  if (fresh) {
    seen_.insert(node);
    nb::object references = nb::handle(node).attr("references");
    nb::object items = checked(PySequence_Fast(references.ptr(), "references must be a list"));
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
    std::vector<Node> nodes;
    for (Py_ssize_t i = 0; i < count; ++i) {
      nb::handle item = PySequence_Fast_GET_ITEM(items.ptr(), i);
      if (!is_record(item, RecordKind::Cell)) {
        host::raise(PyExc_TypeError, "a reference must be a Reference, not " + name_of_type(item));
      }
      nodes.push_back(hold(nb::borrow(item)));
      seen_.insert(nodes.back());
    }
    found->second = std::move(nodes);
  }
  return found->second;
}

std::int64_t RecordView::group_key(Node node) {
  nb::object index = nb::handle(node).attr("cell_index");
  PyObject* known = PyDict_GetItemWithError(keys_.ptr(), index.ptr());
  if (known != nullptr) return PyLong_AsLongLong(known);
  if (PyErr_Occurred()) throw nb::python_error();
  const auto key = static_cast<std::int64_t>(PyDict_Size(keys_.ptr()));
  keys_[index] = key;
  return key;
}

bool RecordView::is_reference(Node node) const {
  return is_record(nb::handle(node), RecordKind::Reference);
}

void RecordView::placements(Node node, std::vector<model::Placement>& out) {
  nb::object trans = nb::handle(node).attr("trans");
  nb::object items = checked(PySequence_Fast(trans.ptr(), "trans must be a list"));
  const Py_ssize_t count = PySequence_Fast_GET_SIZE(items.ptr());
  for (Py_ssize_t i = 0; i < count; ++i) {
    nb::handle item = PySequence_Fast_GET_ITEM(items.ptr(), i);
    KTrans* k = as_ktrans(item);
    if (k == nullptr) {
      host::raise(PyExc_TypeError, "a placement must be a KTrans, not " + name_of_type(item));
    }
    out.push_back(k->placement());
  }
}

std::vector<std::pair<std::int64_t, PyObject*>> RecordView::polygon_entries(Node node) {
  nb::object polygons = nb::handle(node).attr("polygons");
  if (!PyDict_Check(polygons.ptr())) {
    host::raise(PyExc_TypeError, "polygons must be a dict, not " + name_of_type(polygons));
  }
  nb::object items = checked(PyDict_Items(polygons.ptr()));
  std::vector<std::pair<std::int64_t, PyObject*>> entries;
  for (nb::handle pair : items) {
    nb::object index = checked(PyNumber_Long(PyTuple_GET_ITEM(pair.ptr(), 0)));
    entries.emplace_back(host::as_int64(index), hold(nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 1))));
  }
  return entries;
}

bool RecordView::has_polygons(Node node) {
  return host::non_empty(nb::handle(node).attr("polygons"));
}

std::optional<RecordView::List> RecordView::polygons_on(Node node, nb::handle key) {
  nb::object polygons = nb::handle(node).attr("polygons");
  PyObject* found = PyObject_GetItem(polygons.ptr(), key.ptr());
  if (found != nullptr) return hold(nb::steal(found));
  if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw nb::python_error();
  PyErr_Clear();
  return std::nullopt;
}

std::optional<RecordView::List> RecordView::polygons_on(Node node, std::int64_t layer) {
  return polygons_on(node, nb::str(nb::int_(layer)));
}

}  // namespace tarnwick::depthview::python
