#pragma once
// The scene records: parsed cells and references, the two parse results, PDK layer properties and
// the nodes of the viewer's scene tree.
//
// Every record is a value record whose fields hold Python objects, in a fixed field order that the
// map form and the JSON follow. Fields hold the very objects they were given: a record that the
// parser hands out shares the parser's lists and maps instead of copying them, so a polygon that a
// later parse adds is visible through an earlier result. Container defaults are new for every
// record.
#include <nanobind/nanobind.h>

#include <array>
#include <string_view>
#include <vector>

namespace tarnwick::depthview {

namespace nb = nanobind;

inline constexpr const char* FORMAT = "GDS";
inline constexpr const char* VERSION = "3";

// How the scene is grouped. Numbered from 1, as the Python enumeration shows them.
enum class Output : int { CELL = 1, LAYER = 2 };

enum class Default {
  required,
  empty_dict,
  empty_list,
  empty_float_array,  // a new float32 array of length 0
  zero,
  false_,
  version,  // VERSION
  format,   // FORMAT
  origin,   // ((0.0, 0.0, 0.0), (0.0, 0.0, 0.0, 1.0))
  state,    // (1, 1)
  polygon,  // "polygon"
  solid,    // "solid"
};

struct FieldSpec {
  const char* name;
  Default initial;
  bool keyword_only;
};

// The fields of one record type, base fields first.
struct RecordSchema {
  const char* name;
  std::vector<FieldSpec> fields;
  std::size_t positional_count() const;
};

inline constexpr std::size_t kMaxFields = 10;

// The common layout of every record: its schema and one slot per field. The record types below add
// no members, so a pointer to any of them is a pointer to its Record.
struct Record {
  const RecordSchema* schema = nullptr;
  std::array<nb::object, kMaxFields> values;

  nb::object& operator[](std::size_t field) { return values[field]; }
  const nb::object& operator[](std::size_t field) const { return values[field]; }
};

// Field positions, named after the fields.
namespace field {
enum CellField : std::size_t { cell_index, name, polygons, references, trans_count, trans };
enum ParsedField : std::size_t { instances, layer_map, cells_or_layers };
enum PdkLayerField : std::size_t { layer_name, thickness, zmin, color };
enum PartBaseField : std::size_t { node_name, id, version, loc };
enum PartField : std::size_t { shape = 4, part_color, renderback, state, type, subtype };
enum PartsField : std::size_t { parts = 4, format, viewer_instances };
enum ShapeField : std::size_t { refs, height, matrices };
}  // namespace field

struct Cell : Record {};
struct Reference : Cell {};
struct ParsedCells : Record {};
struct ParsedLayers : Record {};
struct PdkLayer : Record {};
struct PartBase : Record {};
struct Shape : Record {};
struct Part : PartBase {};
struct Parts : PartBase {};
struct ViewerData : Parts {};

extern const RecordSchema cell_schema;
extern const RecordSchema reference_schema;
extern const RecordSchema parsed_cells_schema;
extern const RecordSchema parsed_layers_schema;
extern const RecordSchema pdk_layer_schema;
extern const RecordSchema part_base_schema;
extern const RecordSchema shape_schema;
extern const RecordSchema part_schema;
extern const RecordSchema parts_schema;
extern const RecordSchema viewer_data_schema;

// Registers the Python type of a record kind, so that records can be recognised and created from
// C++. Called by the bindings once per type.
void register_record_type(const RecordSchema& schema, nb::handle type);
nb::handle record_type(const RecordSchema& schema);

// The record behind `value`, or nullptr when `value` is not a scene record.
Record* as_record(nb::handle value);
// The record behind `value`; a type error naming `what` when it is not one of kind `schema` (or a
// kind derived from it).
Record& expect_record(nb::handle value, const RecordSchema& schema, const char* what);
bool is_kind(const Record& record, const RecordSchema& schema);

// A new, fully initialised record of the given kind: every field at its default, required fields
// absent (None) until the caller sets them.
nb::object new_record(const RecordSchema& schema);

// Construction from Python: positional and keyword arguments as a dataclass takes them.
void init_record(Record& record, const RecordSchema& schema, nb::args args, nb::kwargs kwargs);

// Field-wise equality of two records of the same type; numpy arrays compare by content (same
// shape, element type and values).
nb::object record_eq(nb::handle self, nb::handle other);
// Equality of two field values under the same rules, recursing through lists, tuples and maps.
bool values_equal(nb::handle a, nb::handle b);

// "Cell(cell_index=0, name='top', ...)": the class name and every field as name=repr(value).
nb::str record_repr(nb::handle self);
// The text form of a PdkLayer: floats formatted "5.3", other values by their representation.
nb::str pdk_layer_repr(nb::handle self);

// Garbage-collector support for the Python objects a record holds.
int record_traverse(PyObject* self, visitproc visit, void* arg);
int record_clear(PyObject* self);

}  // namespace tarnwick::depthview
