#include "tarnwick/host/messages.hpp"

#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host {

void send_message(nb::handle message) {
  bindings::communication.operation("send_message")(message);
}

void load_depthview_messaging() {
  bindings::communication.resolved();
  bindings::models.operation("DepthviewMessage");
}

nb::object reload_factories_message() {
  return bindings::models.operation("ReloadFactoriesMessage")();
}

nb::object reload_layout_message(nb::handle cell) {
  return bindings::models.operation("ReloadLayoutMessage")(nb::arg("cell") = cell);
}

nb::object reload_layout_message(std::string_view cell) {
  return reload_layout_message(py_text(cell));
}

nb::object depthview_message(nb::handle content) {
  return bindings::models.operation("DepthviewMessage")(nb::arg("content") = content);
}

}  // namespace tarnwick::host
