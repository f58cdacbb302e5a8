#pragma once
// The scene's way to the direct KLayout reader, with the reason when there is none.
//
// Reading through KLayout's own C++ classes needs the optional module
// tarnwick.core._klayout_direct, built for exactly the KLayout that is loaded. Without it (not
// built, built for another KLayout build, switched off), the scene reads through KLayout's Python
// API, which always works and gives identical answers; the reason is shown in the stage report,
// never raised.
#include <nanobind/nanobind.h>

#include <memory>
#include <string>

#include "tarnwick/core/depthview/read/layout_reader.hpp"

namespace tarnwick::depthview::read {

namespace nb = nanobind;

// The environment variable that switches direct access off: "0", "off", "false" or "no" (any
// letter case). Any other value, or none, leaves it on.
inline constexpr const char* direct_switch = "TARNWICK_KLAYOUT_DIRECT";

// A reader of `layout` (a klayout.db.Layout) through KLayout's own C++ classes; nullptr when there
// is none, with the reason in `why_not`. Imports the module once per process (after klayout.db);
// the switch is read at every call. Raises nothing: every failure is a reason.
std::unique_ptr<LayoutReader> open_direct_reader(nb::handle layout, std::string& why_not);

}  // namespace tarnwick::depthview::read
