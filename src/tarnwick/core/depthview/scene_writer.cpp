#include "tarnwick/core/depthview/scene_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "tarnwick/core/depthview/base64.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/core/depthview/viewer.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {

// The host's JSON writer refuses more than 255 nested containers; beyond this depth the whole
// message goes the Python-object path, which then decides.
constexpr int kMaxDepth = 200;

// The framing of a float32 buffer record: head, element count, middle, base64, tail.
constexpr std::string_view kRecordHead = "{\"shape\":[";
constexpr std::string_view kRecordMiddle = "],\"dtype\":\"float32\",\"buffer\":\"";
constexpr std::string_view kRecordTail = "\",\"codec\":\"b64\"}";

// Releases a buffer view on every path.
struct View {
  Py_buffer view{};
  bool held = false;
  ~View() {
    if (held) PyBuffer_Release(&view);
  }
};

}  // namespace

SceneWriter::SceneWriter(const PolygonPool* pool)
    : pool_(pool),
      ndarray_type_(
          reinterpret_cast<PyTypeObject*>(host::numpy.resolved().attr("ndarray").ptr())) {}

nb::str SceneWriter::message(nb::handle scene, nb::handle config) {
  out_.clear();
  instances_at_ = std::string::npos;
  out_ += "{\"type\":\"data\",\"data\":";
  write(scene, 1, true);
  out_ += ",\"config\":";
  write(config, 1, false);
  out_ += '}';
  const bool ascii = std::all_of(out_.begin(), out_.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (instances_at_ != std::string::npos && !ascii) {
    std::string list(instances_size(), '\0');
    write_instances(list.data());
    out_.insert(instances_at_, list);
    instances_at_ = std::string::npos;
  }
  if (instances_at_ == std::string::npos) {
    PyObject* text = PyUnicode_DecodeUTF8(out_.data(), static_cast<Py_ssize_t>(out_.size()), nullptr);
    if (text == nullptr) throw nb::python_error();
    return nb::steal<nb::str>(text);
  }
  const std::size_t list = instances_size();
  nb::object text = nb::steal(PyUnicode_New(static_cast<Py_ssize_t>(out_.size() + list), 127));
  if (!text.is_valid()) throw nb::python_error();
  char* data = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text.ptr()));
  std::memcpy(data, out_.data(), instances_at_);
  write_instances(data + instances_at_);
  std::memcpy(data + instances_at_ + list, out_.data() + instances_at_,
              out_.size() - instances_at_);
  return nb::borrow<nb::str>(text);
}

std::string SceneWriter::value(nb::handle value) {
  out_.clear();
  write(value, 0, false);
  return std::move(out_);
}

void SceneWriter::write(nb::handle value, int depth, bool root) {
  if (depth > kMaxDepth) throw Unsupported("nesting too deep");
  PyObject* v = value.ptr();
  if (v == Py_None) {
    out_ += "null";
    return;
  }
  if (v == Py_True) {
    out_ += "true";
    return;
  }
  if (v == Py_False) {
    out_ += "false";
    return;
  }
  PyTypeObject* type = Py_TYPE(v);
  if (type == &PyLong_Type) return write_integer(v);
  if (type == &PyFloat_Type) return write_float(v);
  if (type == &PyUnicode_Type) return write_text(v);
  if (type == &PyList_Type || type == &PyTuple_Type) {
    const bool is_list = type == &PyList_Type;
    const Py_ssize_t size = is_list ? PyList_GET_SIZE(v) : PyTuple_GET_SIZE(v);
    out_ += '[';
    for (Py_ssize_t i = 0; i < size; ++i) {
      if (i != 0) out_ += ',';
      PyObject* item = is_list ? PyList_GET_ITEM(v, i) : PyTuple_GET_ITEM(v, i);
      if (Py_TYPE(item) == &PyLong_Type) {  // the refs lists: the common case, directly
        write_integer(item);
      } else {
        write(item, depth + 1, false);
      }
    }
    out_ += ']';
    return;
  }
  if (type == &PyDict_Type) {
    out_ += '{';
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* item = nullptr;
    bool first = true;
    while (PyDict_Next(v, &position, &key, &item)) {
      if (Py_TYPE(key) != &PyUnicode_Type) throw Unsupported("a map key that is not text");
      if (!first) out_ += ',';
      first = false;
      write_text(key);
      out_ += ':';
      write(item, depth + 1, false);
    }
    out_ += '}';
    return;
  }
  if (type == ndarray_type_) return write_array(v);
  if (as_record(value) != nullptr) return write_record(value, depth, root);
  throw Unsupported("a value of another type");
}

void SceneWriter::write_integer(PyObject* number) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(number, &overflow);
  if (value == -1 && PyErr_Occurred()) throw nb::python_error();
  if (overflow != 0) throw Unsupported("integer beyond 64 bits");
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
}

void SceneWriter::write_record(nb::handle value, int depth, bool root) {
  const Record& record = *as_record(value);
  const RecordSchema& schema = *record.schema;
  const bool pool_root = root && pool_ != nullptr && &schema == &viewer_data_schema;
  out_ += '{';
  bool first = true;
  for (std::size_t i = 0; i < schema.fields.size(); ++i) {
    nb::handle field = record.values[i];
    if (pool_root && i == field::viewer_instances) {
      if (!asdict_omits(field)) throw Unsupported("a scene with its own instances and a pool");
      if (pool_->size() == 0) continue;
      if (!first) out_ += ',';
      first = false;
      out_ += "\"instances\":";
      if (depth + 2 > kMaxDepth) throw Unsupported("nesting too deep");
      instances_at_ = out_.size();  // the list is written into the final text
      continue;
    }
    if (asdict_omits(field)) continue;
    if (!first) out_ += ',';
    first = false;
    out_ += '"';
    out_ += schema.fields[i].name;  // identifiers: nothing to escape
    out_ += "\":";
    write(field, depth + 1, false);
  }
  out_ += '}';
}

void SceneWriter::write_text(PyObject* text) {
  if (PyUnicode_IS_ASCII(text)) {
    const char* data = static_cast<const char*>(PyUnicode_DATA(text));
    const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
    bool plain = true;
    for (Py_ssize_t i = 0; i < size && plain; ++i) {
      const unsigned char c = static_cast<unsigned char>(data[i]);
      plain = c >= 0x20 && c != '"' && c != '\\' && c != 0x7f;
    }
    if (plain) {
      out_ += '"';
      out_.append(data, static_cast<std::size_t>(size));
      out_ += '"';
      return;
    }
  }
  write_host_json(text);
}

void SceneWriter::write_float(PyObject* number) {
  const double value = PyFloat_AS_DOUBLE(number);
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  auto known = floats_.find(bits);
  if (known == floats_.end()) {
    nb::bytes text = host::json::dumps_bytes(number, host::json::Style::compact);
    known = floats_.emplace(bits, std::string(text.c_str(), text.size())).first;
  }
  out_ += known->second;
}

void SceneWriter::write_array(PyObject* array) {
  View held;
  if (PyObject_GetBuffer(array, &held.view, PyBUF_RECORDS_RO) != 0) {
    PyErr_Clear();
    throw Unsupported("an array without a buffer");
  }
  held.held = true;
  const Py_buffer& view = held.view;
  if (view.ndim != 1 || view.itemsize != 4 || view.format == nullptr ||
      std::strcmp(view.format, "f") != 0 || !PyBuffer_IsContiguous(&view, 'C')) {
    throw Unsupported("an array other than a contiguous float32 vector");
  }
  write_buffer_record(view.buf, static_cast<std::size_t>(view.len),
                      static_cast<std::size_t>(view.len) / 4);
}

void SceneWriter::write_buffer_record(const void* data, std::size_t bytes, std::size_t count) {
  out_ += kRecordHead;
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
  out_.append(digits, end);
  out_ += kRecordMiddle;
  const std::size_t at = out_.size();
  out_.resize(at + base64::encoded_size(bytes));
  base64::encode(data, bytes, out_.data() + at);
  out_ += kRecordTail;
}

namespace {

std::size_t decimal_digits(std::size_t value) {
  std::size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

}  // namespace

std::size_t SceneWriter::instances_size() const {
  const std::size_t count = pool_->size();
  std::size_t size = 2 + (count > 0 ? count - 1 : 0);  // brackets and commas
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t floats = pool_->polygon(i).size();
    size += kRecordHead.size() + decimal_digits(floats) + kRecordMiddle.size() +
            base64::encoded_size(floats * sizeof(float)) + kRecordTail.size();
  }
  return size;
}

void SceneWriter::write_instances(char* out) const {
  *out++ = '[';
  for (std::size_t i = 0; i < pool_->size(); ++i) {
    if (i != 0) *out++ = ',';
    const std::span<const float> polygon = pool_->polygon(i);
    out = put(out, kRecordHead);
    out = std::to_chars(out, out + 24, polygon.size()).ptr;
    out = put(out, kRecordMiddle);
    out += base64::encode(polygon.data(), polygon.size() * sizeof(float), out);
    out = put(out, kRecordTail);
  }
  *out = ']';
}

void SceneWriter::write_host_json(PyObject* value) {
  nb::bytes text = host::json::dumps_bytes(value, host::json::Style::compact);
  out_.append(text.c_str(), text.size());
}

nb::object scene_json(nb::handle value) {
  try {
    const std::string text = SceneWriter(nullptr).value(value);
    return nb::str(text.data(), text.size());
  } catch (const Unsupported&) {
    return nb::none();
  }
}

}  // namespace tarnwick::depthview
