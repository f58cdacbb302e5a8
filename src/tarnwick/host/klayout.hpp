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
// klayout.db.Trans(rotation, mirror, dx, dy): rotation in quarter turns, displacement in database
// units.
nb::object simple_trans(int rotation, bool mirror, std::int64_t dx, std::int64_t dy);

}  // namespace tarnwick::host::klayout
