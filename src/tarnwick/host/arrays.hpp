#pragma once
// numpy arrays as the scene records hold them, and the dataclasses the records are: the
// attributes the records' adapter reads of either. Errors propagate unchanged.
#include <nanobind/nanobind.h>

#include <string>

namespace tarnwick::host::arrays {

namespace nb = nanobind;

// numpy.ndarray, the type.
nb::object ndarray_type();
// numpy.zeros(0, dtype="float32"): a new empty float32 array.
nb::object empty_float32();
// numpy.ascontiguousarray(array): the array itself or a row-major contiguous copy.
nb::object contiguous(nb::handle array);
// array.shape and array.dtype.
nb::object shape(nb::handle array);
nb::object dtype(nb::handle array);
// numpy.array_equal(a, b) as a truth value.
bool equal(nb::handle a, nb::handle b);

// What the buffer records need of a dtype, read in this order: its kind character(s), whether its
// bytes are in the machine's order and its name; for a dtype that is not, the name of the same
// type in the machine's order.
struct DtypeFacts {
  std::string kind;
  bool native;
  nb::object name;
};
DtypeFacts dtype_facts(nb::handle dtype);
// array.astype(dtype.newbyteorder("="), order="C"): a row-major copy in the machine's byte order.
nb::object in_native_order(nb::handle array, nb::handle dtype);

}  // namespace tarnwick::host::arrays

namespace tarnwick::host::dataclass {

namespace nb = nanobind;

// dataclasses.fields(value): the fields of a dataclass or of one of its instances.
nb::object fields(nb::handle value);
// field.name
nb::object field_name(nb::handle field);
// dataclasses.field(**options), `options` a dict.
nb::object field(nb::handle options);
// dataclasses.make_dataclass(name, fields, bases=bases, namespace=ns, eq=False)
nb::object make(const char* name, nb::handle fields, nb::handle bases, nb::handle ns);

}  // namespace tarnwick::host::dataclass
