#pragma once
// The KLayout layout database (klayout.db), through its Python API: layouts and simple
// transformations.
#include <nanobind/nanobind.h>

#include <cstdint>

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

}  // namespace tarnwick::host::klayout
