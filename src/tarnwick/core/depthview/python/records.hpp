#pragma once
// The scene records as Python sees them: plain dataclasses in the module, made once from one table
// per record (fields in order, their types, defaults, keyword-only marks), so that the signature,
// dataclasses.fields() and the map form all follow the table.
//
// Records hold the very objects they were given; container defaults are new for every record.
// Equality is field-wise and by type, numpy arrays compared by content; records are not hashable.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview::python {

namespace nb = nanobind;

enum class RecordKind {
  Cell,
  Reference,
  ParsedCells,
  ParsedLayers,
  PdkLayer,
  PartBase,
  Shape,
  Part,
  Parts,
  ViewerData,
};

// Makes every record class and adds it to `module`. Called once, when the module is loaded.
void declare_records(nb::module_& module);

// The record class of a kind.
nb::handle record_class(RecordKind kind);

// Whether `value` is a record of `kind` (or of a kind derived from it).
bool is_record(nb::handle value, RecordKind kind);

// A new record of `kind` from keyword arguments (Python's own construction).
nb::object make_record(RecordKind kind, nb::kwargs fields);

// Equality of two field values as records compare them: numpy arrays by shape, element type and
// content; lists, tuples and maps element by element; anything else by ==.
bool values_equal(nb::handle a, nb::handle b);

}  // namespace tarnwick::depthview::python
