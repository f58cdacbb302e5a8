#pragma once
// How the optional module of direct KLayout access hands its layout reader to the scene.
//
// The module tarnwick.core._klayout_direct, when it is built and loads, holds in its attribute
// "layout_reader" a PyCapsule with a factory function. The scene module and that module are built
// together, by the same compiler from the same headers; the version in the capsule name changes
// whenever LayoutReader or the factory's contract changes, so that a stale module is not used.
#include <Python.h>

#include <string>

#include "tarnwick/core/depthview/read/layout_reader.hpp"

namespace tarnwick::depthview::read::direct_capsule {

inline constexpr const char* module_name = "tarnwick.core._klayout_direct";
inline constexpr const char* attribute = "layout_reader";
inline constexpr const char* capsule_name = "tarnwick.depthview.layout_reader.v3";

// A new reader of the klayout.db.Layout `layout`, owned by the caller, or nullptr with the reason
// in `*why_not` (not a layout, or one whose C++ object is gone). Called with the GIL held; throws
// nothing and leaves no Python error set, except a KeyboardInterrupt (or another error that is
// not an Exception) raised meanwhile: that one is left set, for the caller to raise.
using Factory = LayoutReader* (*)(PyObject* layout, std::string* why_not);

}  // namespace tarnwick::depthview::read::direct_capsule
