#include "tarnwick/core/depthview/python/asdict.hpp"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "tarnwick/core/depthview/python/ktrans.hpp"
#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::checked;

bool omitted(nb::handle value) {
  PyObject* v = value.ptr();
  return (PyList_Check(v) || PyTuple_Check(v) || PyDict_Check(v)) && PyObject_Length(v) == 0;
}

bool is_scene_record(nb::handle value) {
  return is_record(value, RecordKind::Cell) || is_record(value, RecordKind::ParsedCells) ||
         is_record(value, RecordKind::ParsedLayers) || is_record(value, RecordKind::PdkLayer) ||
         is_record(value, RecordKind::PartBase) || is_record(value, RecordKind::Shape);
}

// The field names of a record class, in order (looked up once per class).
const std::vector<nb::object>& field_names(nb::handle type) {
  static std::unordered_map<PyObject*, std::vector<nb::object>> names;  // classes live on
  auto [found, fresh] = names.try_emplace(type.ptr());
  if (fresh) {
    for (nb::handle field : host::dataclass::fields(type)) {
      found->second.push_back(host::dataclass::field_name(field));
    }
    type.inc_ref();
  }
  return found->second;
}

// One container being converted: its items (what is left to convert) and the result so far.
struct Frame {
  nb::object source;                                     // on the path: a repeat is a cycle
  std::vector<std::pair<nb::object, nb::object>> items;  // (key or None, value)
  std::size_t next = 0;
  nb::object result;  // dict or list
  bool is_map;
};

}  // namespace

nb::object asdict(nb::handle obj) {
  std::vector<Frame> stack;
  std::unordered_set<PyObject*> path;
  // Converts a leaf at once, or opens a frame for a container; returns the leaf's value (invalid
  // when a frame was opened).
  auto start = [&](nb::handle value) -> nb::object {
    PyObject* v = value.ptr();
    Frame frame;
    if (is_scene_record(value)) {
      frame.is_map = true;
      for (const nb::object& name : field_names(value.type())) {
        nb::object field = value.attr(name);
        if (!omitted(field)) frame.items.emplace_back(name, std::move(field));
      }
    } else if (as_ktrans(value) != nullptr || nb::hasattr(value, "to_dict")) {
      return value.attr("to_dict")();
    } else if (PyList_Check(v) || PyTuple_Check(v)) {
      frame.is_map = false;
      nb::object items = checked(PySequence_Fast(v, "a sequence"));
      const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.ptr());
      for (Py_ssize_t i = 0; i < n; ++i) {
        frame.items.emplace_back(nb::none(), nb::borrow(PySequence_Fast_GET_ITEM(items.ptr(), i)));
      }
    } else if (PyDict_Check(v)) {
      frame.is_map = true;
      nb::object items = checked(PyDict_Items(v));
      for (nb::handle pair : items) {
        frame.items.emplace_back(nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 0)),
                                 nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 1)));
      }
    } else {
      return nb::borrow(value);
    }
    if (!path.insert(v).second) {
      host::raise(PyExc_ValueError, "asdict: the value contains itself");
    }
    frame.source = nb::borrow(value);
    frame.result = frame.is_map ? nb::object(nb::dict()) : nb::object(nb::list());
    stack.push_back(std::move(frame));
    return {};
  };
  auto store = [&](Frame& frame, nb::handle key, nb::handle value) {
    if (frame.is_map) {
      if (PyDict_SetItem(frame.result.ptr(), key.ptr(), value.ptr()) != 0) {
        throw nb::python_error();
      }
    } else if (PyList_Append(frame.result.ptr(), value.ptr()) != 0) {
      throw nb::python_error();
    }
  };
  nb::object done = start(obj);
  if (done.is_valid()) return done;
  while (true) {
    Frame& frame = stack.back();
    if (frame.next < frame.items.size()) {
      auto& [key, value] = frame.items[frame.next++];
      nb::object converted = start(value);
      if (converted.is_valid()) store(stack.back(), key, converted);
      continue;
    }
    nb::object result = std::move(frame.result);
    path.erase(frame.source.ptr());
    stack.pop_back();
    if (stack.empty()) return result;
    Frame& parent = stack.back();
    store(parent, parent.items[parent.next - 1].first, result);
  }
}

nb::str create_json(nb::handle data) {
  return host::json::dumps(asdict(data), host::json::Style::scene);
}

}  // namespace tarnwick::depthview::python
