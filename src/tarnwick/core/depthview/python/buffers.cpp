#include "tarnwick/core/depthview/python/buffers.hpp"

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_set>
#include <vector>

#include "tarnwick/core/depthview/write/base64.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview::python {

namespace {

// What the walk needs to know about one numpy dtype. Builtin dtypes are singletons, so a handful
// of entries covers a whole scene and the Python attribute look-ups happen once per dtype.
struct DtypeInfo {
  nb::object dtype;  // keeps the dtype alive while its pointer is the cache key
  nb::object name;   // numpy's name of the element type, e.g. "float32"
  bool numeric = false;
  bool native = true;  // element bytes in the machine's byte order
};

// The records of one walk share these objects; every record gets its own map, shape tuple and
// buffer text.
class Walker {
 public:
  Walker() {
    ndarray_ = host::arrays::ndarray_type();
    key_shape_ = nb::str("shape");
    key_dtype_ = nb::str("dtype");
    key_buffer_ = nb::str("buffer");
    key_codec_ = nb::str("codec");
    codec_ = nb::str("b64");
  }

  // A new reference to the converted value. The tree is walked with an explicit stack, so any
  // depth converts; a list or map met again on its own path (one that contains itself) is a
  // RecursionError, as an unbounded walk would end.
  nb::object walk(nb::handle obj) {
    nb::object done = start(obj);
    if (done.is_valid()) return done;
    while (true) {
      Frame& frame = stack_.back();
      if (frame.next < frame.size) {
        const Py_ssize_t i = frame.next++;
        nb::handle item;
        if (frame.kind == Kind::map) {
          item = PyTuple_GET_ITEM(PyList_GET_ITEM(frame.items.ptr(), i), 1);
        } else {
          // A list may be changed by Python code run during the walk (a dtype look-up); re-read
          // it.
          if (frame.kind == Kind::list && i >= PyList_GET_SIZE(frame.source.ptr())) {
            host::raise(PyExc_RuntimeError, "list changed size during numpy_to_buffer_json");
          }
          item = frame.kind == Kind::list ? PyList_GET_ITEM(frame.source.ptr(), i)
                                          : PyTuple_GET_ITEM(frame.source.ptr(), i);
        }
        nb::object converted = start(nb::borrow(item));
        if (converted.is_valid()) store(stack_.back(), converted);
        continue;
      }
      nb::object result = std::move(frame.result);
      path_.erase(frame.source.ptr());
      stack_.pop_back();
      if (stack_.empty()) return result;
      store(stack_.back(), result);
    }
  }

 private:
  enum class Kind : std::uint8_t { list, tuple, map };

  // One list, tuple or map being converted, and its new list or map so far.
  struct Frame {
    nb::object source;
    nb::object items;  // a map's (key, value) pairs, taken before its walk runs Python code
    Kind kind;
    Py_ssize_t size;
    Py_ssize_t next = 0;
    nb::object result;
  };

  // Converts a leaf at once (its new reference), or opens a frame for a container (an invalid
  // object).
  nb::object start(nb::handle obj) {
    PyObject* raw = obj.ptr();
    if (PyObject_TypeCheck(raw, reinterpret_cast<PyTypeObject*>(ndarray_.ptr()))) {
      const DtypeInfo& info = dtype_info(obj);
      if (info.numeric) return buffer_record(obj, info);
      return nb::borrow(obj);
    }
    Frame frame;
    if (PyList_Check(raw)) {
      frame.kind = Kind::list;
      frame.size = PyList_GET_SIZE(raw);
    } else if (PyTuple_Check(raw)) {
      frame.kind = Kind::tuple;
      frame.size = PyTuple_GET_SIZE(raw);
    } else if (PyDict_Check(raw)) {
      frame.kind = Kind::map;
      frame.items = nb::steal(PyDict_Items(raw));
      if (!frame.items.is_valid()) throw nb::python_error();
      frame.size = PyList_GET_SIZE(frame.items.ptr());
    } else {
      return nb::borrow(obj);
    }
    if (!path_.insert(raw).second) {
      host::raise(PyExc_RecursionError, "numpy_to_buffer_json: the value contains itself");
    }
    // A list's result is filled in place; the source list may still grow or shrink meanwhile.
    frame.result = nb::steal(frame.kind == Kind::map ? PyDict_New() : PyList_New(frame.size));
    if (!frame.result.is_valid()) throw nb::python_error();
    frame.source = nb::borrow(obj);
    stack_.push_back(std::move(frame));
    return {};
  }

  // Puts the converted value of the frame's item `next - 1` into its result.
  void store(Frame& frame, nb::object& converted) {
    const Py_ssize_t i = frame.next - 1;
    if (frame.kind == Kind::map) {
      PyObject* key = PyTuple_GET_ITEM(PyList_GET_ITEM(frame.items.ptr(), i), 0);
      if (PyDict_SetItem(frame.result.ptr(), key, converted.ptr()) != 0) throw nb::python_error();
    } else {
      PyList_SET_ITEM(frame.result.ptr(), i, converted.release().ptr());
    }
  }

  const DtypeInfo& dtype_info(nb::handle array) {
    nb::object dtype = host::arrays::dtype(array);
    for (const DtypeInfo& info : dtypes_) {
      if (info.dtype.is(dtype)) return info;
    }
    DtypeInfo info;
    info.dtype = dtype;
    host::arrays::DtypeFacts facts = host::arrays::dtype_facts(dtype);
    const std::string& kind = facts.kind;
    // Booleans, signed and unsigned integers, floats and complex numbers: plain numbers in memory.
    info.numeric = kind.size() == 1 && std::string("biufc").find(kind[0]) != std::string::npos;
    info.native = facts.native;
    info.name = std::move(facts.name);
    dtypes_.push_back(std::move(info));
    return dtypes_.back();
  }

  // The buffer record of a numeric array: encodes its memory, copying it once when it is not
  // row-major contiguous or not in native byte order.
  nb::object buffer_record(nb::handle array, const DtypeInfo& info) {
    nb::object source = nb::borrow(array);
    if (!info.native) source = host::arrays::in_native_order(array, info.dtype);
    Py_buffer view;
    if (PyObject_GetBuffer(source.ptr(), &view, PyBUF_RECORDS_RO) != 0) throw nb::python_error();
    if (!PyBuffer_IsContiguous(&view, 'C')) {
      PyBuffer_Release(&view);
      source = host::arrays::contiguous(source);
      if (PyObject_GetBuffer(source.ptr(), &view, PyBUF_RECORDS_RO) != 0) {
        throw nb::python_error();
      }
    }
    const Py_ssize_t bytes = view.len;
    const Py_ssize_t count = view.itemsize > 0 ? bytes / view.itemsize : 0;
    const std::size_t text_size = write::base64::encoded_size(static_cast<std::size_t>(bytes));
    PyObject* text = PyUnicode_New(static_cast<Py_ssize_t>(text_size), 127);
    if (text == nullptr) {
      PyBuffer_Release(&view);
      throw nb::python_error();
    }
    write::base64::encode(view.buf, static_cast<std::size_t>(bytes),
                          reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text)));
    PyBuffer_Release(&view);
    nb::object buffer = nb::steal(text);

    nb::object shape = nb::steal(PyTuple_New(1));
    if (!shape.is_valid()) throw nb::python_error();
    PyTuple_SET_ITEM(shape.ptr(), 0, PyLong_FromSsize_t(count));

    nb::object record = nb::steal(PyDict_New());
    if (!record.is_valid() || PyDict_SetItem(record.ptr(), key_shape_.ptr(), shape.ptr()) != 0 ||
        PyDict_SetItem(record.ptr(), key_dtype_.ptr(), info.name.ptr()) != 0 ||
        PyDict_SetItem(record.ptr(), key_buffer_.ptr(), buffer.ptr()) != 0 ||
        PyDict_SetItem(record.ptr(), key_codec_.ptr(), codec_.ptr()) != 0) {
      throw nb::python_error();
    }
    return record;
  }

  std::vector<Frame> stack_;
  std::unordered_set<PyObject*> path_;  // the lists and maps open on the stack
  nb::object ndarray_;
  nb::object key_shape_, key_dtype_, key_buffer_, key_codec_, codec_;
  std::deque<DtypeInfo> dtypes_;  // deque: references stay valid as it grows
};

}  // namespace

nb::object numpy_to_buffer_json(nb::handle value) {
  Walker walker;
  nb::object result = walker.walk(value);
  if (!result.is_none() && !PyDict_Check(result.ptr())) {
    host::raise(PyExc_TypeError, std::string("numpy_to_buffer_json expects a dict, got ") +
                                     Py_TYPE(value.ptr())->tp_name);
  }
  return result;
}

}  // namespace tarnwick::depthview::python
