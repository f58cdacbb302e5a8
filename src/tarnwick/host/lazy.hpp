#pragma once
// Lazy binding of host services and library modules.
//
// Every compiled module binds what it uses when it is loaded. A binding returns at once; the module
// (and attribute) behind it is imported on first use, through the host's own lazy-import service
// `tarnwick.core.lazy.lazy_import`, so loading a compiled module never imports KLayout, brenvik or
// any other heavy library.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <string>

namespace tarnwick::host {

namespace nb = nanobind;

// A lazily imported module or module attribute. Holds the host's lazy proxy; `get()` is the proxy
// itself (usable as the object: calls and attribute access resolve it), `resolved()` the real
// object. Bindings live as long as the process: they are never destroyed, so no Python object is
// released after the interpreter has shut down.
class Binding {
 public:
  Binding(std::string module, std::string attribute = {});
  Binding(const Binding&) = delete;
  Binding& operator=(const Binding&) = delete;

  // Creates the lazy proxy (cheap: imports only tarnwick.core.lazy). Called at module load.
  void bind();
  // The lazy proxy; binds first when bind() has not run yet.
  nb::handle get();
  // The real module or attribute, imported on the first call.
  nb::handle resolved();
  // The attribute `name` of the real module, read afresh at every call: an operation replaced on
  // the module (monkeypatch.setattr(module, name, replacement)) takes effect at once.
  nb::object operation(const char* name) { return resolved().attr(name); }
  const std::string& module() const { return module_; }

 private:
  std::string module_;
  std::string attribute_;
  PyObject* proxy_ = nullptr;     // strong reference, intentionally leaked
  PyObject* resolved_ = nullptr;  // strong reference, intentionally leaked
};

// tarnwick.core.lazy.lazy_import(module[, attribute]): a new lazy proxy.
nb::object lazy_import(const std::string& module, const std::string& attribute = {});

// The real object behind a lazy proxy, or the object itself when it is not lazy.
nb::object resolve(nb::handle object);

}  // namespace tarnwick::host
