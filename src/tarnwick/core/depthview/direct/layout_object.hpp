#pragma once
// The KLayout C++ layout behind a klayout.db.Layout Python object.
//
// KLayout's Python binding appends its bridge object (pya::PYAObjectBase) to the memory of every
// Python object it makes; the bridge knows the object's class declaration and holds the pointer to
// the C++ object. This is only sound with the exact KLayout build this module was compiled against,
// which the module checks when it is imported.
#include <Python.h>

#include <string>

namespace db {
class Layout;
}

namespace tarnwick::depthview::direct {

// The db::Layout of `object` when it is an instance of `layout_type` (klayout.db.Layout, or a
// Python subclass of it) whose bridge names KLayout's Layout class and whose C++ object is alive;
// otherwise nullptr with the reason in `why_not`. Needs the GIL; leaves no Python error set.
db::Layout* layout_behind(PyObject* object, PyObject* layout_type, std::string& why_not);

}  // namespace tarnwick::depthview::direct
