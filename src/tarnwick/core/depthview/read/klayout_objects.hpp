#pragma once
// KLayout transformation objects (Trans, DTrans, ICplxTrans, DCplxTrans) as placements, and
// placements as such objects.
#include <nanobind/nanobind.h>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::read {

namespace nb = nanobind;

// The placement a KLayout transformation object stands for. Type error for anything else.
model::Placement placement_of(nb::handle trans);

// The placement of a simple transformation (Trans, or DTrans when `floating`).
model::Placement simple_placement(nb::handle trans, bool floating);
// The placement of a complex transformation (ICplxTrans, or DCplxTrans when `floating`): read
// from its binary form when `binary_form` (host::klayout::complex_trans_has_bytes(), which callers
// ask once), else from its angle, magnification, mirror and displacement.
model::Placement complex_placement(nb::handle trans, bool floating, bool binary_form);

// A new KLayout transformation object for `placement`: Trans, DTrans, ICplxTrans or DCplxTrans by
// its kind.
nb::object klayout_trans(const model::Placement& placement);

}  // namespace tarnwick::depthview::read
