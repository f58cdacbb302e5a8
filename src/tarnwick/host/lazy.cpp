#include "tarnwick/host/lazy.hpp"

namespace tarnwick::host {

namespace {
nb::handle lazy_module() {
  static PyObject* module = nullptr;  // leaked on purpose: lives as long as the process
  if (module == nullptr) module = nb::module_::import_("tarnwick.core.lazy").release().ptr();
  return module;
}
}  // namespace

nb::object lazy_import(const std::string& module, const std::string& attribute) {
  nb::handle lazy = lazy_module();
  if (attribute.empty()) return lazy.attr("lazy_import")(module);
  return lazy.attr("lazy_import")(module, attribute);
}

nb::object resolve(nb::handle object) { return lazy_module().attr("resolve")(object); }

Binding::Binding(std::string module, std::string attribute)
    : module_(std::move(module)), attribute_(std::move(attribute)) {}

void Binding::bind() {
  if (proxy_ == nullptr) proxy_ = lazy_import(module_, attribute_).release().ptr();
}

nb::handle Binding::get() {
  bind();
  return proxy_;
}

nb::handle Binding::resolved() {
  if (resolved_ == nullptr) resolved_ = resolve(get()).release().ptr();
  return resolved_;
}

}  // namespace tarnwick::host
