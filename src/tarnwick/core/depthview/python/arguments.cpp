#include "tarnwick/core/depthview/python/arguments.hpp"

#include <nanobind/stl/string.h>

#include <cmath>
#include <string>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview::python {

namespace {

std::string shown(double value) { return nb::cast<std::string>(nb::repr(nb::float_(value))); }

}  // namespace

double checked_z_scale(double z_scale) {
  if (!std::isfinite(z_scale)) {
    host::raise(PyExc_ValueError, "z_scale must be a finite number, not " + shown(z_scale));
  }
  return z_scale;
}

std::optional<double> checked_tolerance(nb::handle curve_tolerance) {
  if (curve_tolerance.is_none()) return std::nullopt;
  if (!PyNumber_Check(curve_tolerance.ptr()) || PyBool_Check(curve_tolerance.ptr())) {
    host::raise(PyExc_TypeError, "curve_tolerance must be a number or None, not " +
                                     nb::cast<std::string>(nb::type_name(curve_tolerance.type())));
  }
  const double tolerance = host::as_double(curve_tolerance);
  if (!std::isfinite(tolerance) || tolerance < 0.0) {
    host::raise(PyExc_ValueError,
                "curve_tolerance must be a finite number that is not negative, or None, not " +
                    shown(tolerance));
  }
  return tolerance;
}

void check_exclude_layers(nb::handle exclude_layers) {
  if (!exclude_layers.is_none() && !PyList_Check(exclude_layers.ptr())) {
    host::raise(PyExc_TypeError,
                "exclude_layers must be a list of str or None, got " +
                    nb::cast<std::string>(nb::str(exclude_layers.type().attr("__name__"))));
  }
}

}  // namespace tarnwick::depthview::python
