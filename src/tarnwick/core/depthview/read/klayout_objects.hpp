#pragma once
// KLayout transformation objects (Trans, DTrans, ICplxTrans, DCplxTrans) as placements, and
// placements as such objects.
#include <nanobind/nanobind.h>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::read {

namespace nb = nanobind;

// The placement a KLayout transformation object stands for. Type error for anything else.
model::Placement placement_of(nb::handle trans);

// A complex placement from a complex transformation's attributes (angle, mag, is_mirror, disp),
// for KLayout versions without its binary form.
model::Placement complex_placement_from_attributes(nb::handle trans, bool floating);

// A new KLayout transformation object for `placement`: Trans, DTrans, ICplxTrans or DCplxTrans by
// its kind.
nb::object klayout_trans(const model::Placement& placement);

}  // namespace tarnwick::depthview::read
