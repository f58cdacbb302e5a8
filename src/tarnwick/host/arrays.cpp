#include "tarnwick/host/arrays.hpp"

#include <nanobind/stl/string.h>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::host::arrays {

using namespace nb::literals;

nb::object ndarray_type() { return numpy.resolved().attr("ndarray"); }

nb::object empty_float32() { return numpy.resolved().attr("zeros")(0, "dtype"_a = "float32"); }

nb::object contiguous(nb::handle array) {
  return numpy.resolved().attr("ascontiguousarray")(array);
}

nb::object shape(nb::handle array) { return array.attr("shape"); }

nb::object dtype(nb::handle array) { return array.attr("dtype"); }

bool equal(nb::handle a, nb::handle b) {
  return truthy(numpy.resolved().attr("array_equal")(a, b));
}

DtypeFacts dtype_facts(nb::handle dtype) {
  DtypeFacts facts;
  facts.kind = nb::cast<std::string>(dtype.attr("kind"));
  facts.native = nb::cast<bool>(dtype.attr("isnative"));
  facts.name = nb::borrow(dtype.attr("name"));
  if (!facts.native) facts.name = nb::borrow(dtype.attr("newbyteorder")(nb::str("=")).attr("name"));
  return facts;
}

nb::object in_native_order(nb::handle array, nb::handle dtype) {
  nb::object native = dtype.attr("newbyteorder")(nb::str("="));
  return array.attr("astype")(native, "order"_a = "C");
}

}  // namespace tarnwick::host::arrays

namespace tarnwick::host::dataclass {

using namespace nb::literals;

nb::object fields(nb::handle value) { return dataclasses.resolved().attr("fields")(value); }

nb::object field_name(nb::handle field) { return field.attr("name"); }

nb::object field(nb::handle options) {
  nb::object function = dataclasses.resolved().attr("field");
  nb::tuple none;
  return checked(PyObject_Call(function.ptr(), none.ptr(), options.ptr()));
}

nb::object make(const char* name, nb::handle fields, nb::handle bases, nb::handle ns) {
  return dataclasses.resolved().attr("make_dataclass")(name, fields, "bases"_a = bases,
                                                       "namespace"_a = ns, "eq"_a = false);
}

}  // namespace tarnwick::host::dataclass
