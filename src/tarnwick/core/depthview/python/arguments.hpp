#pragma once
// Checks of the numeric arguments of the scene conversion, made before any work.
#include <nanobind/nanobind.h>

#include <optional>

namespace tarnwick::depthview::python {

namespace nb = nanobind;

// Value error unless `z_scale` is a finite number.
double checked_z_scale(double z_scale);
// None, or the tolerance as a float: type error when it is not a number, value error when it is
// not finite or negative.
std::optional<double> checked_tolerance(nb::handle curve_tolerance);
// Type error unless `exclude_layers` is a list or None.
void check_exclude_layers(nb::handle exclude_layers);

}  // namespace tarnwick::depthview::python
