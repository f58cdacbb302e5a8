#include "tarnwick/core/depthview/python/ktrans.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <vector>

#include "tarnwick/core/depthview/read/klayout_objects.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::as_double;
using host::truthy;
using model::Placement;

// Each side of a product: a single KTrans, or the elements of any iterable.
std::vector<Placement> as_sequence(nb::handle value) {
  std::vector<Placement> items;
  if (KTrans* k = as_ktrans(value)) {
    items.push_back(k->placement());
    return items;
  }
  for (nb::handle item : value) {
    KTrans* k = as_ktrans(item);
    if (k == nullptr) {
      host::raise(PyExc_TypeError,
                  "expected a KTrans, not " + nb::cast<std::string>(nb::type_name(item.type())));
    }
    items.push_back(k->placement());
  }
  return items;
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

KTrans::KTrans(nb::handle trans)
    : placement_(read::placement_of(trans)), object_(nb::borrow(trans)) {}

nb::object KTrans::trans() {
  if (!object_.is_valid()) object_ = read::klayout_trans(placement_);
  return object_;
}

nb::dict KTrans::to_dict() const {
  nb::dict result;
  result["mirror"] = nb::bool_(placement_.mirror());
  if (placement_.complex) {
    result["angle"] = nb::float_(placement_.angle_degrees());
  } else {
    result["angle"] = nb::int_(90 * placement_.rotation());
  }
  nb::list displacement;
  displacement.append(nb::float_(placement_.dx));
  displacement.append(nb::float_(placement_.dy));
  result["displacement"] = displacement;
  if (placement_.complex) result["magnification"] = nb::float_(placement_.magnification());
  return result;
}

nb::object KTrans::multiply(nb::handle parent_trans, nb::handle trans) {
  const bool no_parent = parent_trans.is_none();
  const bool no_trans = trans.is_none();
  if (no_parent && no_trans) {
    host::raise(PyExc_ValueError, "Either parent_trans or trans must be provided");
  }
  if (no_parent) return alone(trans, "trans");
  if (no_trans) return alone(parent_trans, "parent_trans");
  std::vector<Placement> products;
  model::multiply(as_sequence(parent_trans), as_sequence(trans), products);
  nb::object result = host::checked(PyList_New(static_cast<Py_ssize_t>(products.size())));
  for (std::size_t i = 0; i < products.size(); ++i) {
    PyList_SET_ITEM(result.ptr(), static_cast<Py_ssize_t>(i),
                    make_ktrans(products[i]).release().ptr());
  }
  return result;
}

nb::int_ KTrans::hash() const {
  const Placement& p = placement_;
  nb::object key =
      p.complex ? nb::make_tuple(p.mirror(), p.angle_degrees(), p.dx, p.dy, p.magnification())
                : nb::make_tuple(p.mirror(), 90 * p.rotation(), p.dx, p.dy);
  return nb::int_(nb::hash(key));
}

nb::str KTrans::repr() {
  const std::string text = "KTrans(" + nb::cast<std::string>(nb::str(trans())) + ")";
  return nb::str(text.c_str(), text.size());
}

int KTrans::traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(Py_TYPE(self));
  if (!nb::inst_ready(self)) return 0;
  Py_VISIT(nb::inst_ptr<KTrans>(self)->object_.ptr());
  return 0;
}

int KTrans::clear(PyObject* self) {
  // The values stay: a cleared wrapper still answers, and makes its object anew if asked.
  nb::inst_ptr<KTrans>(self)->object_.reset();
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
  const bool has_magnification = host::contains(values, nb::str("magnification"));
  const double r = has_magnification ? as_double(values["magnification"]) : 1.0;
  const auto m = model::affine_matrix(angle, truthy(values["mirror"]), r,
                                      as_double(displacement[0]), as_double(displacement[1]));
  return nb::make_tuple(nb::make_tuple(m[0], m[1], m[2]), nb::make_tuple(m[3], m[4], m[5]));
}

nb::object make_ktrans(const Placement& placement) { return nb::cast(KTrans(placement)); }

KTrans* as_ktrans(nb::handle value) {
  if (!nb::isinstance<KTrans>(value)) return nullptr;
  return nb::inst_ptr<KTrans>(value);
}

}  // namespace tarnwick::depthview::python
