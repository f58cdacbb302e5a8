#include "tarnwick/core/depthview/python/errors.hpp"

#include <nanobind/nanobind.h>

#include <stdexcept>

#include "tarnwick/core/depthview/model/polygon_pool.hpp"
#include "tarnwick/core/depthview/read/parse.hpp"
#include "tarnwick/core/depthview/transform/placement_count.hpp"
#include "tarnwick/core/depthview/transform/simplify.hpp"
#include "tarnwick/core/depthview/transform/tree_view.hpp"
#include "tarnwick/core/depthview/write/viewer_tree.hpp"

namespace tarnwick::depthview::python {

namespace nb = nanobind;

namespace {

void set_key_error(nb::handle key) { PyErr_SetObject(PyExc_KeyError, key.ptr()); }

void translate(const std::exception_ptr& error, void*) {
  try {
    std::rethrow_exception(error);
  } catch (const transform::SimplifyError& e) {
    switch (e.kind) {
      case transform::SimplifyError::Kind::not_polygon:
        PyErr_SetNone(PyExc_AssertionError);
        return;
      case transform::SimplifyError::Kind::empty:
        PyErr_SetString(PyExc_IndexError, e.what());
        return;
      case transform::SimplifyError::Kind::invalid_ring:
        PyErr_SetString(PyExc_ValueError, e.what());
        return;
    }
  } catch (const read::ShapeWithoutPolygon& e) {
    PyErr_SetString(PyExc_TypeError, e.what());
  } catch (const read::UnknownCell& e) {
    set_key_error(nb::int_(e.index));
  } catch (const transform::UnknownLayer& e) {
    set_key_error(nb::int_(e.index));
  } catch (const write::MissingLayerPolygons& e) {
    set_key_error(nb::str(nb::int_(e.index)));
  } catch (const transform::RecursiveTree& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const write::SceneTooLarge& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const transform::TooManyPlacements& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  } catch (const model::CoordinateRangeError& e) {
    PyErr_SetString(PyExc_OverflowError, e.what());
  } catch (const std::invalid_argument& e) {
    PyErr_SetString(PyExc_ValueError, e.what());
  }
}

}  // namespace

void register_error_translation() { nb::register_exception_translator(&translate); }

}  // namespace tarnwick::depthview::python
