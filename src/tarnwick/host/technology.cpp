#include "tarnwick/host/technology.hpp"

#include "tarnwick/host/lazy.hpp"
#include "tarnwick/host/python_text.hpp"

namespace tarnwick::host::technology {

namespace {

Binding& module() {
  static Binding* binding = new Binding("tarnwick.technology");  // lives as long as the process
  return *binding;
}

}  // namespace

std::pair<nb::object, nb::object> scene_layers(nb::handle technology, nb::handle component) {
  nb::object pair = module().operation("scene_layers")(technology, component);
  if (!PyTuple_Check(pair.ptr()) || PyTuple_GET_SIZE(pair.ptr()) != 2) {
    raise(PyExc_TypeError, "scene_layers must give a (LayerStack, LayerViews) pair");
  }
  return {nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 0)), nb::borrow(PyTuple_GET_ITEM(pair.ptr(), 1))};
}

}  // namespace tarnwick::host::technology
