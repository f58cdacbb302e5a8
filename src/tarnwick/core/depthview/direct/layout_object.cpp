#include "tarnwick/core/depthview/direct/layout_object.hpp"

#include "dbLayout.h"
#include "gsiDecl.h"
#include "pyaObject.h"

namespace tarnwick::depthview::direct {

db::Layout* layout_behind(PyObject* object, PyObject* layout_type, std::string& why_not) {
  const int is_layout = PyObject_IsInstance(object, layout_type);
  if (is_layout != 1) {
    if (is_layout < 0) PyErr_Clear();
    why_not = std::string("not a klayout.db.Layout but ") + Py_TYPE(object)->tp_name;
    return nullptr;
  }
  // A Python subclass that adds slots moves the bridge; KLayout itself then cannot use the object
  // either. The bridge names its own Python object: anything else is not a bridge.
  if (static_cast<std::size_t>(Py_TYPE(object)->tp_basicsize) < sizeof(pya::PYAObjectBase)) {
    why_not = "the layout object has no KLayout bridge";
    return nullptr;
  }
  pya::PYAObjectBase* bridge = pya::PYAObjectBase::from_pyobject_unsafe(object);
  if (bridge->py_object() != object) {
    why_not = "the layout object has no KLayout bridge";
    return nullptr;
  }
  static const gsi::ClassBase* layout_class = gsi::class_by_typeinfo_no_assert(typeid(db::Layout));
  if (layout_class == nullptr || bridge->cls_decl() != layout_class) {
    why_not = "the layout object's KLayout class is not Layout";
    return nullptr;
  }
  if (bridge->destroyed() || !bridge->is_attached()) {
    why_not = "the layout object's KLayout layout has been destroyed";
    return nullptr;
  }
  return static_cast<db::Layout*>(bridge->obj());
}

}  // namespace tarnwick::depthview::direct
