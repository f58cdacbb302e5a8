#pragma once
// KTrans: one placement of a cell, as Python sees it. It wraps a KLayout transformation: a simple
// one (Trans, DTrans: right angles, mirror, displacement) or a complex one (ICplxTrans,
// DCplxTrans: any angle, magnification).
//
// A KTrans made from Python keeps the object it was given (`trans` returns it) and reads its values
// once, when it is made. A KTrans made by the scene holds only the values and makes the KLayout
// object when Python first asks for `trans` (later reads return the same object). Either way all
// arithmetic (map form, matrices, products, equality) runs on the values.
#include <nanobind/nanobind.h>

#include <optional>

#include "tarnwick/core/depthview/model/placement.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

class KTrans {
 public:
  // Type error when `trans` is not a KLayout transformation.
  explicit KTrans(nb::handle trans);
  explicit KTrans(const model::Placement& placement) : placement_(placement) {}

  const model::Placement& placement() const { return placement_; }

  // The wrapped KLayout transformation.
  nb::object trans();

  // {"mirror", "angle", "displacement"} for a simple placement (angle in whole degrees), with
  // "magnification" after them for a complex one (angle in degrees as a float); the displacement
  // in the transformation's own units.
  nb::dict to_dict() const;

  // KTrans.multiply: see the Python documentation in the bindings.
  static nb::object multiply(nb::handle parent_trans, nb::handle trans);

  bool equal(const KTrans& other) const { return placement_.same_as(other.placement_); }
  nb::int_ hash() const;
  // "KTrans(r90 10,20)": KLayout's text form of the placement.
  nb::str repr();

  // Garbage-collector support for the wrapped object.
  static int traverse(PyObject* self, visitproc visit, void* arg);
  static int clear(PyObject* self);

 private:
  model::Placement placement_;
  nb::object object_;  // the KLayout object, once given or made
};

// KTrans.trans_matrix(): the 2x3 matrix computed from the map form that `to_dict` of `self`
// returns, as a pair of triples.
nb::tuple trans_matrix(nb::handle self);

// A new Python KTrans holding `placement`.
nb::object make_ktrans(const model::Placement& placement);

// The KTrans behind `value`, or nullptr when `value` is not one.
KTrans* as_ktrans(nb::handle value);

}  // namespace tarnwick::depthview::python
