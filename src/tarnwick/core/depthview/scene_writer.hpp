#pragma once
// The JSON writer of the native scene path: the depthview message content written straight from a
// scene record tree and a native polygon pool into one buffer.
//
// The text is byte for byte what the Python-object path sends for the same scene: asdict of the
// tree (scene records as maps in field order without their empty list, tuple and map fields), every
// numeric array replaced by its buffer record (numpy_to_buffer_json), serialised compactly by the
// host's JSON writer. Structure, integers, plain ASCII texts and buffer records are written here;
// floats and every text that needs escaping or is not ASCII are written by the host's JSON writer,
// once per distinct float. Any value whose form this writer does not know exactly (a KTrans, a
// subclass of a builtin type, a dict with non-text keys, an array that is not a one-dimensional
// float32 vector, a nesting deeper than the host writer surely accepts) raises Unsupported, and the
// caller then takes the Python-object path for the whole message.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "tarnwick/core/depthview/polygon_pool.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

struct Unsupported : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class SceneWriter {
 public:
  // `pool`, when not null, holds the scene's polygons: they are written as the root's
  // "instances", whose list in the tree must then be empty.
  explicit SceneWriter(const PolygonPool* pool);

  // {"type":"data","data":<scene>,"config":<config>} as JSON text. Unsupported as described
  // above; errors of the host's JSON writer propagate as Python errors. The pool's polygons, the
  // bulk of the text, are encoded straight into the Python text object, whose size is known in
  // advance, so the message exists once in memory.
  nb::str message(nb::handle scene, nb::handle config);

  // The JSON text of one value under the same rules, without a pool (for tests and callers that
  // write parts of a message).
  std::string value(nb::handle value);

 private:
  void write(nb::handle value, int depth, bool root);
  void write_record(nb::handle value, int depth, bool root);
  void write_integer(PyObject* number);
  void write_text(PyObject* text);
  void write_float(PyObject* number);
  void write_array(PyObject* array);
  void write_buffer_record(const void* data, std::size_t bytes, std::size_t count);
  // The exact size of the root's "instances" list and its text written at `out`.
  std::size_t instances_size() const;
  void write_instances(char* out) const;
  void write_host_json(PyObject* value);

  const PolygonPool* pool_;
  std::string out_;
  std::size_t instances_at_;  // where the pool's list goes in out_, or npos
  PyTypeObject* ndarray_type_;
  std::unordered_map<std::uint64_t, std::string> floats_;  // by the bits of the double
};

// The writer's JSON text of one scene value (a str), or None where the writer leaves the value to
// the Python-object path.
nb::object scene_json(nb::handle value);

}  // namespace tarnwick::depthview
