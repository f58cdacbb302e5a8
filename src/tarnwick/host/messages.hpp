#pragma once
// Messages to the user interface: the models of tarnwick.models and send_message of
// tarnwick.core.communication.
#include <nanobind/nanobind.h>

#include <string_view>

namespace tarnwick::host {

namespace nb = nanobind;

// send_message(message); its result is ignored.
void send_message(nb::handle message);
// Imports the message channel and the DepthviewMessage model, which are otherwise imported by the
// first scene message sent in the process. Loading them before a timed stage keeps their one-time
// cost (tens of milliseconds, mostly pydantic) out of that stage.
void load_depthview_messaging();
// ReloadFactoriesMessage()
nb::object reload_factories_message();
// ReloadLayoutMessage(cell=cell); `cell` is a Python text, or UTF-8 made by host::utf8.
nb::object reload_layout_message(nb::handle cell);
nb::object reload_layout_message(std::string_view cell);
// DepthviewMessage(content=content)
nb::object depthview_message(nb::handle content);

}  // namespace tarnwick::host
