#include "tarnwick/core/depthview/python/records.hpp"

#include <nanobind/stl/string.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview::python {

namespace {

using namespace nb::literals;

enum class Default {
  required,
  empty_dict,
  empty_list,
  empty_float_array,  // a new float32 array of length 0
  zero,
  false_,
  version,  // "3"
  format,   // "GDS"
  origin,   // ((0.0, 0.0, 0.0), (0.0, 0.0, 0.0, 1.0))
  state,    // (1, 1)
  polygon,  // "polygon"
  solid,    // "solid"
};

struct Field {
  const char* name;
  const char* type;
  Default initial;
  bool keyword_only;
};

// One record: its class name, its base (or none), what it is, and its own fields in order.
struct RecordTable {
  RecordKind kind;
  const char* name;
  std::optional<RecordKind> base;
  const char* doc;
  std::vector<Field> fields;
};

const std::vector<RecordTable>& tables() {
  using D = Default;
  using K = RecordKind;
  constexpr const char* kLoc =
      "tuple[tuple[float, float, float], tuple[float, float, float, float]]";
  static const std::vector<RecordTable> all{
      {K::Cell,
       "Cell",
       std::nullopt,
       "One layout cell as parsed: its own polygons per layer and its references.",
       {{"cell_index", "int", D::required, false},
        {"name", "str", D::required, false},
        {"polygons", "dict[str, list[int]]", D::empty_dict, false},
        {"references", "list[Reference]", D::empty_list, false}}},
      {K::Reference,
       "Reference",
       K::Cell,
       "A cell placed inside a parent cell, with one transform per placement.",
       {{"trans_count", "int", D::zero, false}, {"trans", "list[KTrans]", D::empty_list, false}}},
      {K::ParsedCells,
       "ParsedCells",
       std::nullopt,
       "The parser's result grouped by cell.",
       {{"instances", "list[list[tuple[float, float]]]", D::required, false},
        {"layer_map", "dict[int, tuple[int, int]]", D::required, false},
        {"cells", "list[Cell]", D::required, false}}},
      {K::ParsedLayers,
       "ParsedLayers",
       std::nullopt,
       "The parser's result grouped by layer: per top cell, a map from layer id to the pruned "
       "tree.",
       {{"instances", "list[list[tuple[float, float]]]", D::required, false},
        {"layer_map", "dict[int, tuple[int, int]]", D::required, false},
        {"layers", "list[dict[str, Cell]]", D::required, false}}},
      {K::PdkLayer,
       "PdkLayer",
       std::nullopt,
       "Thickness, bottom height and colour of one fabrication layer.",
       {{"name", "str", D::required, false},
        {"thickness", "float", D::required, false},
        {"zmin", "float", D::required, false},
        {"color", "str", D::required, false}}},
      {K::PartBase,
       "PartBase",
       std::nullopt,
       "The common head of every node of the scene tree.",
       {{"name", "str", D::required, false},
        {"id", "str", D::required, false},
        {"version", "str", D::version, false},
        {"loc", kLoc, D::origin, false}}},
      {K::Shape,
       "Shape",
       std::nullopt,
       "The geometry of a scene leaf: pooled polygon indices, extrusion height, placement "
       "matrices.",
       {{"refs", "list[int]", D::required, false},
        {"height", "float", D::required, false},
        {"matrices", "numpy.ndarray", D::empty_float_array, false}}},
      {K::Part,
       "Part",
       K::PartBase,
       "A leaf of the scene tree.",
       {{"shape", "Shape", D::required, true},
        {"color", "str", D::required, true},
        {"renderback", "bool", D::false_, true},
        {"state", "tuple[int, int]", D::state, true},
        {"type", "str", D::polygon, true},
        {"subtype", "str", D::solid, true}}},
      {K::Parts,
       "Parts",
       K::PartBase,
       "An inner node of the scene tree.",
       {{"parts", "list[Part | Parts]", D::empty_list, true}}},
      {K::ViewerData,
       "ViewerData",
       K::Parts,
       "The root of the scene tree and the payload for the viewer.",
       {{"format", "str", D::format, true},
        {"instances", "list[numpy.ndarray]", D::empty_list, true}}},
  };
  return all;
}

std::array<PyObject*, 10>& classes() {
  static std::array<PyObject*, 10> all{};  // strong references, held for the life of the process
  return all;
}

// The dataclasses.field() of one table entry.
nb::object field_of(const Field& field) {
  nb::dict options;
  switch (field.initial) {
    case Default::required:
      break;
    case Default::empty_dict:
      options["default_factory"] = nb::module_::import_("builtins").attr("dict");
      break;
    case Default::empty_list:
      options["default_factory"] = nb::module_::import_("builtins").attr("list");
      break;
    case Default::empty_float_array:
      options["default_factory"] = nb::cpp_function(&host::arrays::empty_float32);
      break;
    case Default::zero:
      options["default"] = 0;
      break;
    case Default::false_:
      options["default"] = false;
      break;
    case Default::version:
      options["default"] = "3";
      break;
    case Default::format:
      options["default"] = "GDS";
      break;
    case Default::origin:
      options["default"] =
          nb::make_tuple(nb::make_tuple(0.0, 0.0, 0.0), nb::make_tuple(0.0, 0.0, 0.0, 1.0));
      break;
    case Default::state:
      options["default"] = nb::make_tuple(1, 1);
      break;
    case Default::polygon:
      options["default"] = "polygon";
      break;
    case Default::solid:
      options["default"] = "solid";
      break;
  }
  options["kw_only"] = nb::bool_(field.keyword_only);
  return host::dataclass::field(options);
}

bool is_ndarray(nb::handle value) {
  static PyObject* ndarray = nullptr;  // numpy.ndarray, held for the life of the process
  if (ndarray == nullptr) ndarray = host::arrays::ndarray_type().release().ptr();
  return PyObject_TypeCheck(value.ptr(), reinterpret_cast<PyTypeObject*>(ndarray));
}

bool arrays_equal(nb::handle a, nb::handle b) {
  if (!is_ndarray(a) || !is_ndarray(b)) return false;
  if (!host::arrays::shape(a).equal(host::arrays::shape(b))) return false;
  if (!host::arrays::dtype(a).equal(host::arrays::dtype(b))) return false;
  return host::arrays::equal(a, b);
}

// Deep values end in RecursionError, never in a stack overflow.
struct RecursionGuard : host::RecursionGuard {
  RecursionGuard() : host::RecursionGuard(" in comparing scene records") {}
};

nb::object record_eq(nb::handle self, nb::handle other) {
  if (!Py_IS_TYPE(other.ptr(), Py_TYPE(self.ptr()))) return nb::borrow(Py_NotImplemented);
  RecursionGuard guard;
  nb::object fields = host::dataclass::fields(self);
  for (nb::handle field : fields) {
    nb::object name = host::dataclass::field_name(field);
    if (!values_equal(self.attr(name), other.attr(name))) return nb::bool_(false);
  }
  return nb::bool_(true);
}

// The text form of a PdkLayer: every attribute stored on it, in the order it was set; floats
// formatted "5.3", other values by their representation.
nb::str pdk_layer_repr(nb::handle self) {
  std::string text = nb::cast<std::string>(self.type().attr("__name__")) + "(";
  bool first = true;
  for (auto [key, value] : nb::borrow<nb::dict>(self.attr("__dict__"))) {
    if (!first) text += ", ";
    first = false;
    text += nb::cast<std::string>(nb::str(key));
    text += "=";
    nb::object shown = PyFloat_Check(value.ptr())
                           ? host::checked(PyObject_Format(value.ptr(), nb::str("5.3").ptr()))
                           : nb::object(nb::repr(value));
    text += nb::cast<std::string>(shown);
  }
  text += ")";
  return nb::str(text.c_str(), text.size());
}

}  // namespace

void declare_records(nb::module_& module) {
  for (const RecordTable& table : tables()) {
    nb::list fields;
    for (const Field& field : table.fields) {
      fields.append(nb::make_tuple(field.name, field.type, field_of(field)));
    }
    nb::dict ns;
    ns["__doc__"] = table.doc;
    ns["__module__"] = module.attr("__name__");
    ns["__eq__"] = nb::cpp_function(&record_eq, nb::is_method(), "other"_a.none());
    ns["__hash__"] = nb::none();
    if (table.kind == RecordKind::PdkLayer) {
      ns["__repr__"] = nb::cpp_function(&pdk_layer_repr, nb::is_method());
      ns["__str__"] = ns["__repr__"];
    }
    nb::tuple bases = table.base ? nb::make_tuple(record_class(*table.base)) : nb::tuple();
    nb::object cls = host::dataclass::make(table.name, fields, bases, ns);
    module.attr(table.name) = cls;
    classes()[static_cast<std::size_t>(table.kind)] = cls.release().ptr();
  }
}

nb::handle record_class(RecordKind kind) { return classes()[static_cast<std::size_t>(kind)]; }

bool is_record(nb::handle value, RecordKind kind) {
  return PyObject_TypeCheck(value.ptr(), reinterpret_cast<PyTypeObject*>(record_class(kind).ptr()));
}

nb::object make_record(RecordKind kind, nb::kwargs fields) {
  return host::checked(PyObject_Call(record_class(kind).ptr(), nb::tuple().ptr(), fields.ptr()));
}

bool values_equal(nb::handle a, nb::handle b) {
  if (a.ptr() == b.ptr()) return true;
  if (is_ndarray(a) || is_ndarray(b)) return arrays_equal(a, b);
  PyObject* x = a.ptr();
  PyObject* y = b.ptr();
  const bool lists = PyList_CheckExact(x) && PyList_CheckExact(y);
  const bool tuples = PyTuple_CheckExact(x) && PyTuple_CheckExact(y);
  if (lists || tuples) {
    RecursionGuard guard;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(x);
    if (n != PySequence_Fast_GET_SIZE(y)) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
      // A comparison may run Python code that changes a list: hold the items, re-check sizes.
      nb::object xi = nb::borrow(PySequence_Fast_GET_ITEM(x, i));
      nb::object yi = nb::borrow(PySequence_Fast_GET_ITEM(y, i));
      if (!values_equal(xi, yi)) return false;
      if (PySequence_Fast_GET_SIZE(x) != n || PySequence_Fast_GET_SIZE(y) != n) return false;
    }
    return true;
  }
  if (PyDict_CheckExact(x) && PyDict_CheckExact(y)) {
    RecursionGuard guard;
    if (PyDict_Size(x) != PyDict_Size(y)) return false;
    nb::object items = host::checked(PyDict_Items(x));
    for (nb::handle pair : items) {
      nb::object key = nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 0));
      PyObject* other = PyDict_GetItemWithError(y, key.ptr());
      if (other == nullptr) {
        if (PyErr_Occurred()) throw nb::python_error();
        return false;
      }
      nb::object held = nb::borrow(other);
      if (!values_equal(PyTuple_GET_ITEM(pair.ptr(), 1), held)) return false;
    }
    return true;
  }
  const int result = PyObject_RichCompareBool(x, y, Py_EQ);
  if (result < 0) throw nb::python_error();
  return result == 1;
}

}  // namespace tarnwick::depthview::python
