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

using model::Placement;

using Kind = host::klayout::TransKind;

// The bytes of a bytes object, or an empty view when `value` is not one.
std::string_view bytes_of(nb::handle value) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(value.ptr(), &data, &size) != 0) {
    PyErr_Clear();
    return {};
  }
  return {data, static_cast<std::size_t>(size)};
}

}  // namespace

Placement simple_placement(nb::handle trans, bool floating) {
  const host::klayout::SimpleTransParts t = host::klayout::simple_trans_parts(trans);
  // code 0..3: rotations, 4..7: mirrored
  return Placement::simple(t.code & 3, t.code >= 4, t.dx, t.dy, floating);
}

Placement complex_placement(nb::handle trans, bool floating, bool binary_form) {
  if (binary_form) {
    Placement p;
    if (decode_complex_trans(bytes_of(host::klayout::to_bytes(trans)), floating, p)) return p;
  }
  const host::klayout::ComplexTransParts t = host::klayout::complex_trans_parts(trans);
  const double angle = t.angle_degrees * std::numbers::pi / 180.0;
  const double mag = t.magnification;
  return Placement::complex_from(std::sin(angle), std::cos(angle), t.mirror ? -mag : mag, t.dx,
                                 t.dy, floating);
}

Placement placement_of(nb::handle trans) {
  const Kind kind = host::klayout::trans_kind(trans);
  if (kind == Kind::none) {
    host::raise(PyExc_TypeError,
                "KTrans wraps a KLayout Trans, DTrans, ICplxTrans or DCplxTrans, not " +
                    nb::cast<std::string>(nb::type_name(trans.type())));
  }
  const bool floating = kind == Kind::dtrans || kind == Kind::dcplx_trans;
  if (kind == Kind::trans || kind == Kind::dtrans) return simple_placement(trans, floating);
  return complex_placement(trans, floating, host::klayout::complex_trans_has_bytes());
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
