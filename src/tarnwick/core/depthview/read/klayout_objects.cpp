#include "tarnwick/core/depthview/read/klayout_objects.hpp"

#include <nanobind/stl/string.h>

#include <cmath>
#include <numbers>
#include <string>

#include "tarnwick/core/depthview/read/klayout_bytes.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/klayout.hpp"

namespace tarnwick::depthview::read {

namespace {

using host::as_double;
using host::as_int64;
using host::truthy;
using model::Placement;

using Kind = host::klayout::TransKind;

}  // namespace

Placement complex_placement_from_attributes(nb::handle trans, bool floating) {
  const double angle = as_double(trans.attr("angle")) * std::numbers::pi / 180.0;
  const double mag = as_double(trans.attr("mag"));
  const bool mirror = truthy(trans.attr("is_mirror")());
  nb::object disp = trans.attr("disp");
  return Placement::complex_from(std::sin(angle), std::cos(angle), mirror ? -mag : mag,
                                 as_double(disp.attr("x")), as_double(disp.attr("y")), floating);
}

Placement placement_of(nb::handle trans) {
  const Kind kind = host::klayout::trans_kind(trans);
  if (kind == Kind::none) {
    host::raise(PyExc_TypeError,
                "KTrans wraps a KLayout Trans, DTrans, ICplxTrans or DCplxTrans, not " +
                    nb::cast<std::string>(nb::type_name(trans.type())));
  }
  const bool floating = kind == Kind::dtrans || kind == Kind::dcplx_trans;
  if (kind == Kind::trans || kind == Kind::dtrans) {
    const std::int64_t code = as_int64(trans.attr("rot"));  // 0..3 rotations, 4..7 mirrored
    nb::object disp = trans.attr("disp");
    return Placement::simple(static_cast<int>(code & 3), code >= 4, as_double(disp.attr("x")),
                             as_double(disp.attr("y")), floating);
  }
  if (host::klayout::complex_trans_has_bytes()) {
    nb::object bytes = trans.attr("to_bytes")();
    char* data = nullptr;
    Py_ssize_t size = 0;
    Placement p;
    if (PyBytes_AsStringAndSize(bytes.ptr(), &data, &size) == 0 &&
        decode_complex_trans({data, static_cast<std::size_t>(size)}, floating, p)) {
      return p;
    }
    PyErr_Clear();
  }
  return complex_placement_from_attributes(trans, floating);
}

nb::object klayout_trans(const Placement& p) {
  namespace klayout = host::klayout;
  if (!p.complex) {
    const int rotation = p.rotation();
    if (p.floating) return klayout::simple_dtrans(rotation, p.mirror(), p.dx, p.dy);
    return klayout::simple_trans(rotation, p.mirror(), std::llround(p.dx), std::llround(p.dy));
  }
  nb::object exact =
      klayout::complex_dtrans(p.magnification(), p.angle_degrees(), p.mirror(), p.dx, p.dy);
  return p.floating ? exact : klayout::complex_trans_of(exact);
}

}  // namespace tarnwick::depthview::read
