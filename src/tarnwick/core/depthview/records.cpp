#include "tarnwick/core/depthview/records.hpp"

#include <nanobind/stl/string.h>

#include <string>

#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {
using D = Default;

std::vector<FieldSpec> concat(const RecordSchema& base, std::vector<FieldSpec> own) {
  std::vector<FieldSpec> fields = base.fields;
  fields.insert(fields.end(), own.begin(), own.end());
  return fields;
}
}  // namespace

const RecordSchema cell_schema{"Cell",
                               {{"cell_index", D::required, false},
                                {"name", D::required, false},
                                {"polygons", D::empty_dict, false},
                                {"references", D::empty_list, false}}};
const RecordSchema reference_schema{
    "Reference",
    concat(cell_schema, {{"trans_count", D::zero, false}, {"trans", D::empty_list, false}})};
const RecordSchema parsed_cells_schema{"ParsedCells",
                                       {{"instances", D::required, false},
                                        {"layer_map", D::required, false},
                                        {"cells", D::required, false}}};
const RecordSchema parsed_layers_schema{"ParsedLayers",
                                        {{"instances", D::required, false},
                                         {"layer_map", D::required, false},
                                         {"layers", D::required, false}}};
const RecordSchema pdk_layer_schema{"PdkLayer",
                                    {{"name", D::required, false},
                                     {"thickness", D::required, false},
                                     {"zmin", D::required, false},
                                     {"color", D::required, false}}};
const RecordSchema part_base_schema{"PartBase",
                                    {{"name", D::required, false},
                                     {"id", D::required, false},
                                     {"version", D::version, false},
                                     {"loc", D::origin, false}}};
const RecordSchema shape_schema{"Shape",
                                {{"refs", D::required, false},
                                 {"height", D::required, false},
                                 {"matrices", D::empty_float_array, false}}};
const RecordSchema part_schema{"Part", concat(part_base_schema, {{"shape", D::required, true},
                                                                 {"color", D::required, true},
                                                                 {"renderback", D::false_, true},
                                                                 {"state", D::state, true},
                                                                 {"type", D::polygon, true},
                                                                 {"subtype", D::solid, true}})};
const RecordSchema parts_schema{"Parts",
                                concat(part_base_schema, {{"parts", D::empty_list, true}})};
const RecordSchema viewer_data_schema{
    "ViewerData",
    concat(parts_schema, {{"format", D::format, true}, {"instances", D::empty_list, true}})};

std::size_t RecordSchema::positional_count() const {
  std::size_t count = 0;
  for (const FieldSpec& spec : fields) {
    if (!spec.keyword_only) ++count;
  }
  return count;
}

namespace {

struct Registration {
  const RecordSchema* schema;
  PyTypeObject* type;
};

std::vector<Registration>& registrations() {
  static std::vector<Registration> all;
  return all;
}

// Python types are compared by identity; a Python subclass of a record type is a record of the
// nearest registered base.
const Registration* registration_of(PyTypeObject* type) {
  for (PyTypeObject* t = type; t != nullptr; t = t->tp_base) {
    for (const Registration& r : registrations()) {
      if (r.type == t) return &r;
    }
  }
  return nullptr;
}

nb::object origin() {
  return nb::make_tuple(nb::make_tuple(0.0, 0.0, 0.0), nb::make_tuple(0.0, 0.0, 0.0, 1.0));
}

nb::object default_value(Default initial) {
  switch (initial) {
    case D::required:
      return nb::none();
    case D::empty_dict:
      return nb::dict();
    case D::empty_list:
      return nb::list();
    case D::empty_float_array:
      return host::numpy.resolved().attr("zeros")(0, nb::arg("dtype") = "float32");
    case D::zero:
      return nb::int_(0);
    case D::false_:
      return nb::bool_(false);
    case D::version:
      return nb::str(VERSION);
    case D::format:
      return nb::str(FORMAT);
    case D::origin:
      return origin();
    case D::state:
      return nb::make_tuple(1, 1);
    case D::polygon:
      return nb::str("polygon");
    case D::solid:
      return nb::str("solid");
  }
  return nb::none();
}

std::string quoted_names(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += "'" + names[i] + "'";
  }
  return text;
}

bool is_ndarray(nb::handle value) {
  static PyObject* ndarray = nullptr;  // numpy.ndarray, held for the life of the process
  if (ndarray == nullptr) ndarray = host::numpy.resolved().attr("ndarray").inc_ref().ptr();
  return PyObject_TypeCheck(value.ptr(), reinterpret_cast<PyTypeObject*>(ndarray));
}

bool arrays_equal(nb::handle a, nb::handle b) {
  if (!is_ndarray(a) || !is_ndarray(b)) return false;
  if (!a.attr("shape").equal(b.attr("shape"))) return false;
  if (!a.attr("dtype").equal(b.attr("dtype"))) return false;
  return nb::cast<bool>(host::numpy.resolved().attr("array_equal")(a, b));
}

}  // namespace

void register_record_type(const RecordSchema& schema, nb::handle type) {
  registrations().push_back({&schema, reinterpret_cast<PyTypeObject*>(type.ptr())});
}

nb::handle record_type(const RecordSchema& schema) {
  for (const Registration& r : registrations()) {
    if (r.schema == &schema) return reinterpret_cast<PyObject*>(r.type);
  }
  host::raise(PyExc_RuntimeError, std::string("record type not registered: ") + schema.name);
}

Record* as_record(nb::handle value) {
  if (!value.is_valid() || registration_of(Py_TYPE(value.ptr())) == nullptr) return nullptr;
  if (!nb::inst_ready(value)) return nullptr;
  return nb::inst_ptr<Record>(value);
}

bool is_kind(const Record& record, const RecordSchema& schema) {
  // A derived schema starts with all fields of its base, so kinship follows the registered types.
  if (record.schema == &schema) return true;
  if (&schema == &cell_schema) return record.schema == &reference_schema;
  if (&schema == &part_base_schema)
    return record.schema == &part_schema || record.schema == &parts_schema ||
           record.schema == &viewer_data_schema;
  if (&schema == &parts_schema) return record.schema == &viewer_data_schema;
  return false;
}

Record& expect_record(nb::handle value, const RecordSchema& schema, const char* what) {
  Record* record = as_record(value);
  if (record == nullptr || !is_kind(*record, schema)) {
    host::raise(PyExc_TypeError, std::string(what) + " must be a " + schema.name + ", not " +
                                     nb::cast<std::string>(nb::type_name(value.type())));
  }
  return *record;
}

nb::object new_record(const RecordSchema& schema) {
  nb::object instance = nb::inst_alloc(record_type(schema));
  Record* record = nb::inst_ptr<Record>(instance);
  new (record) Record();
  record->schema = &schema;
  for (std::size_t i = 0; i < schema.fields.size(); ++i) {
    record->values[i] = default_value(schema.fields[i].initial);
  }
  nb::inst_mark_ready(instance);
  return instance;
}

void init_record(Record& record, const RecordSchema& schema, nb::args args, nb::kwargs kwargs) {
  record.schema = &schema;
  const std::size_t field_count = schema.fields.size();
  const std::size_t positional = schema.positional_count();
  const std::string init_name = std::string(schema.name) + ".__init__()";
  if (args.size() > positional) {
    host::raise(PyExc_TypeError, init_name + " takes " + std::to_string(positional + 1) +
                                     " positional arguments but " +
                                     std::to_string(args.size() + 1) + " were given");
  }
  std::array<bool, kMaxFields> given{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    record.values[i] = nb::borrow(args[i]);
    given[i] = true;
  }
  for (auto [key, value] : kwargs) {
    const std::string name = nb::cast<std::string>(nb::str(key));
    std::size_t index = field_count;
    for (std::size_t i = 0; i < field_count; ++i) {
      if (name == schema.fields[i].name) index = i;
    }
    if (index == field_count) {
      host::raise(PyExc_TypeError,
                  init_name + " got an unexpected keyword argument '" + name + "'");
    }
    if (given[index]) {
      host::raise(PyExc_TypeError, init_name + " got multiple values for argument '" + name + "'");
    }
    record.values[index] = nb::borrow(value);
    given[index] = true;
  }
  std::vector<std::string> missing_positional, missing_keyword;
  for (std::size_t i = 0; i < field_count; ++i) {
    if (given[i]) continue;
    const FieldSpec& spec = schema.fields[i];
    if (spec.initial == D::required) {
      (spec.keyword_only ? missing_keyword : missing_positional).push_back(spec.name);
    } else {
      record.values[i] = default_value(spec.initial);
    }
  }
  for (auto* missing : {&missing_positional, &missing_keyword}) {
    if (missing->empty()) continue;
    const bool keyword = missing == &missing_keyword;
    host::raise(PyExc_TypeError, init_name + " missing " + std::to_string(missing->size()) +
                                     " required " + (keyword ? "keyword-only" : "positional") +
                                     " argument" + (missing->size() == 1 ? "" : "s") + ": " +
                                     quoted_names(*missing));
  }
}

bool values_equal(nb::handle a, nb::handle b) {
  if (a.ptr() == b.ptr()) return true;
  if (is_ndarray(a) || is_ndarray(b)) return arrays_equal(a, b);
  PyObject* x = a.ptr();
  PyObject* y = b.ptr();
  const bool lists = PyList_CheckExact(x) && PyList_CheckExact(y);
  const bool tuples = PyTuple_CheckExact(x) && PyTuple_CheckExact(y);
  if (lists || tuples) {
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(x);
    if (n != PySequence_Fast_GET_SIZE(y)) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
      // Items are borrowed; a comparison may run Python code that changes a list, so hold them.
      nb::object xi = nb::borrow(PySequence_Fast_GET_ITEM(x, i));
      nb::object yi = nb::borrow(PySequence_Fast_GET_ITEM(y, i));
      if (!values_equal(xi, yi)) return false;
      if (PySequence_Fast_GET_SIZE(x) != n || PySequence_Fast_GET_SIZE(y) != n) return false;
    }
    return true;
  }
  if (PyDict_CheckExact(x) && PyDict_CheckExact(y)) {
    if (PyDict_Size(x) != PyDict_Size(y)) return false;
    nb::dict dx = nb::borrow<nb::dict>(a);
    nb::dict dy = nb::borrow<nb::dict>(b);
    for (auto [key, value] : dx) {
      PyObject* other = PyDict_GetItemWithError(y, key.ptr());
      if (other == nullptr) {
        if (PyErr_Occurred()) throw nb::python_error();
        return false;
      }
      nb::object held = nb::borrow(other);
      if (!values_equal(value, held)) return false;
    }
    return true;
  }
  const int result = PyObject_RichCompareBool(x, y, Py_EQ);
  if (result < 0) throw nb::python_error();
  return result == 1;
}

nb::object record_eq(nb::handle self, nb::handle other) {
  if (Py_TYPE(self.ptr()) != Py_TYPE(other.ptr())) return nb::borrow(Py_NotImplemented);
  Record* a = as_record(self);
  Record* b = as_record(other);
  if (a == nullptr || b == nullptr) return nb::borrow(Py_NotImplemented);
  for (std::size_t i = 0; i < a->schema->fields.size(); ++i) {
    if (!values_equal(a->values[i], b->values[i])) return nb::bool_(false);
  }
  return nb::bool_(true);
}

nb::str record_repr(nb::handle self) {
  Record* record = as_record(self);
  std::string text = nb::cast<std::string>(self.type().attr("__qualname__")) + "(";
  for (std::size_t i = 0; i < record->schema->fields.size(); ++i) {
    if (i > 0) text += ", ";
    text += record->schema->fields[i].name;
    text += "=";
    text += nb::cast<std::string>(nb::repr(record->values[i]));
  }
  text += ")";
  return nb::str(text.c_str(), text.size());
}

nb::str pdk_layer_repr(nb::handle self) {
  Record* record = as_record(self);
  std::string text = nb::cast<std::string>(self.type().attr("__name__")) + "(";
  for (std::size_t i = 0; i < record->schema->fields.size(); ++i) {
    const nb::object& value = record->values[i];
    if (i > 0) text += ", ";
    text += record->schema->fields[i].name;
    text += "=";
    // Floats as format(value, "5.3") would show them; integers (also in float fields) unformatted.
    nb::object shown = PyFloat_Check(value.ptr())
                           ? nb::steal(PyObject_Format(value.ptr(), nb::str("5.3").ptr()))
                           : nb::object(nb::repr(value));
    if (!shown.is_valid()) throw nb::python_error();
    text += nb::cast<std::string>(shown);
  }
  text += ")";
  return nb::str(text.c_str(), text.size());
}

int record_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  Record* record = nb::inst_ptr<Record>(self);
  for (const nb::object& value : record->values) Py_VISIT(value.ptr());
  return 0;
}

int record_clear(PyObject* self) {
  Record* record = nb::inst_ptr<Record>(self);
  for (nb::object& value : record->values) value.reset();
  return 0;
}

}  // namespace tarnwick::depthview
