#pragma once
// The fixed configuration that every viewer message carries.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview {

namespace nb = nanobind;

// A new dict of the 41 configuration entries, in their order.
nb::dict viewer_config();

}  // namespace tarnwick::depthview
