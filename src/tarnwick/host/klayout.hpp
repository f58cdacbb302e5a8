#pragma once
// The KLayout layout database (klayout.db), through its Python API: layouts, their layers, cells,
// shapes and cell instances as the Python-API reader walks them, and transformations. Python errors
// pass through unchanged (nb::python_error).
#include <nanobind/nanobind.h>

#include <cstdint>
#include <string_view>

namespace tarnwick::host::klayout {

namespace nb = nanobind;

// klayout.db.Layout, the type.
nb::object layout_type();
// A new, empty klayout.db.Layout.
nb::object new_layout();
// layout.read(path): the GDS file at `path` read into `layout`; reader errors propagate.
void read_layout(nb::handle layout, nb::handle path);
// The GDS or OASIS file at `path` read once for the 3D scene (tarnwick.layout_file.read_layout):
// a tuple (layout, indices of the cells to draw), the derived layers of `layer_stack` computed
// into those cells. `cell` (None or a name) picks one cell instead of every top cell.
nb::object read_layout_file(nb::handle path, nb::handle layer_stack, nb::handle cell);
// klayout.db.Trans(rotation, mirror, dx, dy): rotation in quarter turns, displacement in database
// units.
nb::object simple_trans(int rotation, bool mirror, std::int64_t dx, std::int64_t dy);
// klayout.db.DTrans(rotation, mirror, dx, dy): the same with a floating-point displacement.
nb::object simple_dtrans(int rotation, bool mirror, double dx, double dy);
// klayout.db.DCplxTrans(magnification, angle in degrees, mirror, dx, dy).
nb::object complex_dtrans(double magnification, double angle, bool mirror, double dx, double dy);
// klayout.db.ICplxTrans(complex): the integer-unit complex transformation of a DCplxTrans.
nb::object complex_trans_of(nb::handle complex_dtrans);

// Which of KLayout's transformation types `value` is.
enum class TransKind { trans, dtrans, icplx_trans, dcplx_trans, none };
TransKind trans_kind(nb::handle value);

// Whether this KLayout offers the binary forms Polygon.to_bytes and ICplxTrans.to_bytes.
bool polygon_has_bytes();
bool complex_trans_has_bytes();

// --- A layout as the Python-API reader walks it. Iterables are KLayout's own iterators: advance
// them only until they report their end.

// layout.dbu: the database unit in micrometres.
double dbu(nb::handle layout);
// layout.layer_indices(): the layer indices, in the layout's order.
nb::object layer_indices(nb::handle layout);
// The GDS layer and datatype of a layer index (layout.get_info(index)).
struct LayerNumbers {
  std::int64_t layer, datatype;
};
LayerNumbers layer_numbers(nb::handle layout, nb::handle index);
// layout.each_cell() and layout.top_cells(): Cell objects.
nb::object each_cell(nb::handle layout);
nb::object top_cells(nb::handle layout);
// layout.cell(index): the Cell of an index, None when there is none.
nb::object cell_by_index(nb::handle layout, std::int64_t index);
// cell.cell_index() and cell.name.
std::int64_t cell_index(nb::handle cell);
nb::object cell_name(nb::handle cell);
// cell.shapes(layer).each(): every shape of the cell on the layer, all kinds.
nb::object each_shape(nb::handle cell, std::int64_t layer);
// cell.shapes(layer).size(): how many shapes of every kind the cell itself holds on the layer.
std::uint64_t shape_count(nb::handle cell, std::int64_t layer);
// shape.polygon: the polygon form of polygons, boxes and paths; None for texts and the kinds
// without one. Looked up by an interned name: this is called once per shape.
nb::object shape_polygon(nb::handle shape);
// shape.is_text().
bool shape_is_text(nb::handle shape);
// polygon.to_bytes() (KLayout's binary polygon form; see polygon_has_bytes), or trans.to_bytes()
// of a complex transformation (see complex_trans_has_bytes).
nb::object to_bytes(nb::handle object);
// polygon.to_dtype().each_point_hull(): the hull points, in database units (DPoint objects).
nb::object hull_points(nb::handle polygon);
// point.x, point.y (of a Point, DPoint, Vector or DVector).
struct XY {
  double x, y;
};
XY xy(nb::handle point);
// cell.each_inst(): the cell's Instance objects.
nb::object each_instance(nb::handle cell);

// One Instance as the reader needs it: the placed cell and its CellInstArray, `array`.
struct InstanceArray {
  std::int64_t target;  // inst.cell_index
  nb::object array;     // inst.cell_inst
  bool complex;         // array.is_complex()
  std::int64_t size;    // array.size()
};
InstanceArray instance_array(nb::handle instance);
// array.cplx_trans when complex, else array.trans: the transformation of the element (0, 0).
nb::object array_trans(const InstanceArray& instance);
// Whether the array is regular (array.is_regular_array()) and then its na × nb element counts.
struct RegularArray {
  bool regular;
  std::int64_t na, nb;
};
RegularArray regular_array(const InstanceArray& instance);
// The vectors a and b that space a regular array's elements.
struct ArrayVectors {
  XY a, b;
};
ArrayVectors array_vectors(const InstanceArray& instance);
// array.each_cplx_trans() or array.each_trans(): every element's transformation.
nb::object each_element_trans(const InstanceArray& instance);

// The parts of a simple transformation (Trans, DTrans): `code` 0..3 rotations by quarter turns,
// 4..7 the same mirrored; the displacement.
struct SimpleTransParts {
  int code;
  double dx, dy;
};
SimpleTransParts simple_trans_parts(nb::handle trans);
// The parts of a complex transformation (ICplxTrans, DCplxTrans).
struct ComplexTransParts {
  double angle_degrees, magnification;
  bool mirror;
  double dx, dy;
};
ComplexTransParts complex_trans_parts(nb::handle trans);

}  // namespace tarnwick::host::klayout
