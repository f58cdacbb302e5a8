// tarnwick.core._klayout_direct: reading KLayout layouts through KLayout's own C++ classes.
//
// Private and optional. Import it only after klayout.db: it links the KLayout libraries that
// klayout.db loads and checks, when imported, that they are the very builds it was compiled
// against (a module built for one KLayout build loads under another and then crashes). On any
// difference the import fails with an ImportError that says which library differs, and the scene
// reads through KLayout's Python API instead.
//
// On success the module holds the layout reader factory in the capsule described in
// read/direct_capsule.hpp, and the KLayout version it was built for in "klayout_version".
#include <nanobind/nanobind.h>

#include <stdexcept>
#include <string>

#include "tarnwick/core/depthview/direct/build_ids.hpp"
#include "tarnwick/core/depthview/direct/built_against.hpp"
#include "tarnwick/core/depthview/direct/direct_reader.hpp"
#include "tarnwick/core/depthview/direct/layout_object.hpp"
#include "tarnwick/core/depthview/read/direct_capsule.hpp"
#include "tarnwick/host/klayout.hpp"
#include "tarnwick/host/services.hpp"

namespace nb = nanobind;

namespace {

using tarnwick::depthview::read::LayoutReader;

// The factory of read/direct_capsule.hpp.
LayoutReader* open_reader(PyObject* layout, std::string* why_not) {
  try {
    nb::object layout_type = tarnwick::host::klayout::layout_type();
    db::Layout* cpp_layout =
        tarnwick::depthview::direct::layout_behind(layout, layout_type.ptr(), *why_not);
    if (cpp_layout == nullptr) return nullptr;
    return new tarnwick::depthview::direct::DirectReader(layout, layout_type.ptr(), cpp_layout);
  } catch (nb::python_error& error) {
    if (!error.matches(PyExc_Exception)) {  // Ctrl-C or an exit: left pending for the caller
      error.restore();
      return nullptr;
    }
    *why_not = error.what();
  } catch (const std::exception& error) {
    *why_not = error.what();
  } catch (...) {  // KLayout's own exceptions are no std::exception
    *why_not = "KLayout failed to make the reader";
  }
  PyErr_Clear();
  return nullptr;
}

}  // namespace

NB_MODULE(_klayout_direct, m) {
  using namespace tarnwick::depthview::direct;
  tarnwick::host::bind_services();
  // The libraries checked are those that klayout.db itself runs on.
  tarnwick::host::klayout::layout_type();
  const std::string mismatch = build_id_mismatch(klayout_libraries);
  if (!mismatch.empty()) {
    throw std::runtime_error(
        std::string("the KLayout libraries loaded are not the builds of KLayout ") +
        klayout_version + " this module was built against: " + mismatch);
  }
  m.attr("klayout_version") = klayout_version;
  tarnwick::depthview::read::direct_capsule::Factory factory = &open_reader;
  m.attr(tarnwick::depthview::read::direct_capsule::attribute) = nb::capsule(
      reinterpret_cast<void*>(factory), tarnwick::depthview::read::direct_capsule::capsule_name);
}
