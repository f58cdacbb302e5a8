#include "tarnwick/core/depthview/ktrans.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview {

namespace {

using host::as_double;
using host::truthy;
constexpr long kAngleDegrees[] = {0, 90, 180, 270};

// The fixed table [0, 90, 180, 270] indexed by the rotation code, as a Python list would be
// (negative codes count from the end).
long angle_degrees(long code) {
  if (code < -4 || code > 3) host::raise(PyExc_IndexError, "list index out of range");
  return kAngleDegrees[code < 0 ? code + 4 : code];
}

// Each side of a product: a single KTrans, or the elements of any iterable.
std::vector<nb::object> as_sequence(nb::handle value) {
  std::vector<nb::object> items;
  if (as_ktrans(value) != nullptr) {
    items.push_back(nb::borrow(value));
    return items;
  }
  for (nb::handle item : value) items.push_back(nb::borrow(item));
  return items;
}

KTrans& expect_ktrans(nb::handle value) {
  KTrans* k = as_ktrans(value);
  if (k == nullptr) {
    host::raise(PyExc_TypeError,
                "expected a KTrans, not " + nb::cast<std::string>(nb::type_name(value.type())));
  }
  return *k;
}

// One side given alone: a list is returned itself, a single KTrans in a new one-element list.
nb::object alone(nb::handle value, const char* name) {
  if (PyList_Check(value.ptr())) return nb::borrow(value);
  if (as_ktrans(value) != nullptr) {
    nb::list single;
    single.append(value);
    return single;
  }
  host::raise(PyExc_TypeError, std::string(name) +
                                   " must be a KTrans, a list of KTrans or None, not " +
                                   nb::cast<std::string>(nb::type_name(value.type())));
}
}  // namespace

nb::object KTrans::trans() {
  if (!object_.is_valid()) {
    const SimpleTrans& t = *native_;
    object_ = host::klayout_db.resolved().attr("Trans")(t.rot, t.mirror, t.dx, t.dy);
  }
  return object_;
}

KTrans::Values KTrans::values() {
  if (!object_.is_valid()) {
    const SimpleTrans& t = *native_;
    return {nb::bool_(t.mirror), angle_degrees(t.rot), static_cast<double>(t.dx),
            static_cast<double>(t.dy)};
  }
  Values v;
  v.mirror = object_.attr("is_mirror")();
  v.angle_degrees = angle_degrees(nb::cast<long>(object_.attr("angle")));
  nb::object disp = object_.attr("disp");
  v.x = as_double(disp.attr("x"));
  v.y = as_double(disp.attr("y"));
  return v;
}

nb::dict KTrans::to_dict() {
  Values v = values();
  nb::dict result;
  result["mirror"] = v.mirror;
  result["angle"] = v.angle_degrees;
  nb::list displacement;
  displacement.append(v.x);
  displacement.append(v.y);
  result["displacement"] = displacement;
  return result;
}

std::array<double, 6> KTrans::matrix(double units_per_micrometre) {
  if (!object_.is_valid()) {
    const SimpleTrans& t = *native_;
    return placement_matrix(kAngleDegrees[t.rot & 3], t.mirror,
                            static_cast<double>(t.dx) / units_per_micrometre,
                            static_cast<double>(t.dy) / units_per_micrometre);
  }
  Values v = values();
  return placement_matrix(v.angle_degrees, truthy(v.mirror), v.x / units_per_micrometre,
                          v.y / units_per_micrometre);
}

nb::object KTrans::product(KTrans& parent, KTrans& child) {
  if (parent.native() && child.native())
    return make_ktrans(compose(*parent.native_, *child.native_));
  nb::object result = nb::steal(PyNumber_Multiply(parent.trans().ptr(), child.trans().ptr()));
  if (!result.is_valid()) throw nb::python_error();
  return nb::cast(KTrans(std::move(result)));
}

nb::object KTrans::multiply(nb::handle parent_trans, nb::handle trans) {
  const bool no_parent = parent_trans.is_none();
  const bool no_trans = trans.is_none();
  if (no_parent && no_trans) {
    host::raise(PyExc_ValueError, "Either parent_trans or trans must be provided");
  }
  if (no_parent) return alone(trans, "trans");
  if (no_trans) return alone(parent_trans, "parent_trans");
  const std::vector<nb::object> parents = as_sequence(parent_trans);
  const std::vector<nb::object> children = as_sequence(trans);
  // Grouped by child placement: for each child (outer), every parent (inner).
  nb::object result =
      nb::steal(PyList_New(static_cast<Py_ssize_t>(parents.size() * children.size())));
  Py_ssize_t i = 0;
  for (const nb::object& t : children) {
    KTrans& child = expect_ktrans(t);
    for (const nb::object& p : parents) {
      PyList_SET_ITEM(result.ptr(), i++, product(expect_ktrans(p), child).release().ptr());
    }
  }
  return result;
}

bool KTrans::equal(KTrans& a, KTrans& b) {
  if (a.native() && b.native()) return *a.native() == *b.native();
  return a.trans().equal(b.trans());
}

nb::int_ KTrans::hash() {
  Values v = values();
  return nb::int_(nb::hash(nb::make_tuple(truthy(v.mirror), v.angle_degrees, v.x, v.y)));
}

nb::str KTrans::repr() {
  std::string text;
  if (!object_.is_valid()) {
    const SimpleTrans& t = *native_;
    static const char* const codes[] = {"r0", "r90", "r180", "r270", "m0", "m45", "m90", "m135"};
    text = std::string(codes[(t.rot & 3) + (t.mirror ? 4 : 0)]) + " " + std::to_string(t.dx) + "," +
           std::to_string(t.dy);
  } else {
    text = nb::cast<std::string>(nb::str(nb::handle(object_)));
  }
  text = "KTrans(" + text + ")";
  return nb::str(text.c_str(), text.size());
}

int KTrans::traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  Py_VISIT(nb::inst_ptr<KTrans>(self)->object_.ptr());
  return 0;
}

int KTrans::clear(PyObject* self) {
  KTrans* k = nb::inst_ptr<KTrans>(self);
  // Keep the placement known: a cleared wrapper of a native placement can still answer.
  if (k->object_.is_valid() && !k->native_) k->object_.reset();
  return 0;
}

nb::tuple trans_matrix(nb::handle self) {
  nb::object values = self.attr("to_dict")();
  const double angle = as_double(values["angle"]);
  nb::object displacement = values["displacement"];
  const Py_ssize_t count = PyObject_Length(displacement.ptr());
  if (count < 0) throw nb::python_error();
  if (count != 2) {
    host::raise(PyExc_ValueError, count < 2 ? "not enough values to unpack (expected 2, got " +
                                                  std::to_string(count) + ")"
                                            : "too many values to unpack (expected 2)");
  }
  const auto m = placement_matrix(angle, truthy(values["mirror"]), as_double(displacement[0]),
                                  as_double(displacement[1]));
  return nb::make_tuple(nb::make_tuple(m[0], m[1], m[2]), nb::make_tuple(m[3], m[4], m[5]));
}

nb::object make_ktrans(const SimpleTrans& native) { return nb::cast(KTrans(native)); }

KTrans* as_ktrans(nb::handle value) {
  if (!nb::isinstance<KTrans>(value)) return nullptr;
  return nb::inst_ptr<KTrans>(value);
}

}  // namespace tarnwick::depthview
