#pragma once
// KTrans: one placement of a cell, wrapping a KLayout simple transformation.
//
// A KTrans made from Python wraps the object it was given and reads it through its `is_mirror()`,
// `angle` and `disp` members and its product. A KTrans made by the parser holds the placement as a
// plain SimpleTrans and creates the KLayout object only when Python asks for `trans` (once; later
// reads return the same object). From then on that object is the placement, as it is for a KTrans
// made from Python. Composition and the placement matrices stay in C++ for native placements.
#include <nanobind/nanobind.h>

#include <array>
#include <optional>

#include "tarnwick/core/depthview/simple_trans.hpp"

namespace tarnwick::depthview {

namespace nb = nanobind;

class KTrans {
 public:
  explicit KTrans(nb::object trans) : object_(std::move(trans)) {}
  explicit KTrans(const SimpleTrans& native) : native_(native) {}

  // The wrapped KLayout transformation.
  nb::object trans();

  // The placement as plain values, when it is known without asking Python (no object made yet).
  const std::optional<SimpleTrans>& native() const { return object_.is_valid() ? none_ : native_; }

  // The map form {"mirror": bool, "angle": degrees, "displacement": [x, y]} (no scaling).
  nb::dict to_dict();

  // The 2x3 placement matrix with the displacement divided by `units_per_micrometre` (1 for the
  // wrapped transformation's own units).
  std::array<double, 6> matrix(double units_per_micrometre);

  // The product parent × this (this placement first, then the parent's), as a new KTrans.
  static nb::object product(KTrans& parent, KTrans& child);

  // KTrans.multiply(parent_trans, trans): see the Python documentation in the bindings.
  static nb::object multiply(nb::handle parent_trans, nb::handle trans);

  // Equal when the wrapped transformations are equal; the hash follows the map form.
  static bool equal(KTrans& a, KTrans& b);
  nb::int_ hash();
  // "KTrans(r90 10,20)": KLayout's text form of the placement.
  nb::str repr();

  // Garbage-collector support for the wrapped object.
  static int traverse(PyObject* self, visitproc visit, void* arg);
  static int clear(PyObject* self);

 private:
  struct Values {
    nb::object mirror;  // what is_mirror() returned
    long angle_degrees;
    double x, y;
  };
  Values values();

  std::optional<SimpleTrans> native_;
  nb::object object_;
  static inline const std::optional<SimpleTrans> none_{};
};

// KTrans.trans_matrix(): the 2x3 matrix computed from the map form that `to_dict` of `self`
// returns, as a pair of triples.
nb::tuple trans_matrix(nb::handle self);

// A new Python KTrans holding `native`.
nb::object make_ktrans(const SimpleTrans& native);

// The KTrans behind `value`, or nullptr when `value` is not one.
KTrans* as_ktrans(nb::handle value);

}  // namespace tarnwick::depthview
