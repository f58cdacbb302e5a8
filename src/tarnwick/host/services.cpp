#include "tarnwick/host/services.hpp"

namespace tarnwick::host {

Binding pdk_get_pdk{"tarnwick.core.pdk", "get_pdk"};
Binding database{"tarnwick.core.database"};
Binding callgraph{"tarnwick.core.callgraph"};
Binding schema{"tarnwick.core.schema"};
Binding settings{"tarnwick.settings"};
Binding shared_none{"tarnwick.core.shared", "none"};
Binding logger_get_logger{"tarnwick.logger", "get_logger"};
Binding brenvik{"brenvik"};
Binding tesselink_kcell{"tesselink.kcell"};
Binding ostrand{"ostrand"};
Binding klayout_db{"klayout.db"};
Binding numpy{"numpy"};
Binding yaml{"yaml"};
Binding natsort{"natsort"};
Binding orjson{"orjson"};
Binding inspect{"inspect"};
Binding traceback{"traceback"};
Binding tempfile{"tempfile"};
Binding pathlib{"pathlib"};

namespace {
Binding communication_send_message{"tarnwick.core.communication", "send_message"};
Binding models{"tarnwick.models"};

void log(const char* level, const std::string& text) {
  nb::object logger = logger_get_logger.get()();
  logger.attr(level)(nb::str(text.data(), text.size()));
}
}  // namespace

void bind_services() {
  for (Binding* binding : {&pdk_get_pdk,
                           &database,
                           &callgraph,
                           &schema,
                           &settings,
                           &shared_none,
                           &logger_get_logger,
                           &brenvik,
                           &tesselink_kcell,
                           &ostrand,
                           &klayout_db,
                           &numpy,
                           &yaml,
                           &natsort,
                           &orjson,
                           &inspect,
                           &traceback,
                           &tempfile,
                           &pathlib,
                           &communication_send_message,
                           &models}) {
    binding->bind();
  }
}

nb::object get_pdk() { return pdk_get_pdk.get()(); }

namespace {
std::uint64_t setting_limit(const char* getter) {
  nb::object limit = settings.get().attr(getter)();
  const unsigned long long value = PyLong_AsUnsignedLongLong(limit.ptr());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw nb::python_error();
  return value;
}
}  // namespace

std::uint64_t max_placements() { return setting_limit("get_max_placements"); }
std::uint64_t max_message_bytes() { return setting_limit("get_max_message_bytes"); }

void send_message(nb::handle message) { communication_send_message.get()(message); }

nb::object reload_factories_message() { return models.get().attr("ReloadFactoriesMessage")(); }

nb::object reload_layout_message(const std::string& cell) {
  return models.get().attr("ReloadLayoutMessage")(nb::arg("cell") = cell);
}

nb::object depthview_message(nb::handle content) {
  return models.get().attr("DepthviewMessage")(nb::arg("content") = content);
}

void log_debug(const std::string& text) { log("debug", text); }
void log_info(const std::string& text) { log("info", text); }
void log_warning(const std::string& text) { log("warning", text); }
void log_error(const std::string& text) { log("error", text); }

// --- used by tarnwick.core.freeze
nb::object import_brenvik() { return nb::module_::import_("brenvik"); }

bool is_mapping(nb::handle value) {
  if (PyDict_Check(value.ptr())) return true;
  static PyObject* mapping = nullptr;  // leaked on purpose: lives as long as the process
  if (mapping == nullptr) {
    mapping = nb::object(nb::module_::import_("collections.abc").attr("Mapping")).release().ptr();
  }
  const int result = PyObject_IsInstance(value.ptr(), mapping);
  if (result < 0) throw nb::python_error();
  return result == 1;
}

// --- used by tarnwick.core.depthview
Binding tesselink{"tesselink"};

bool assertions_enabled() {
  nb::object flags = nb::module_::import_("sys").attr("flags");
  return nb::cast<long>(flags.attr("optimize")) == 0;
}

Binding fnmatch_fnmatchcase{"fnmatch", "fnmatchcase"};
Binding dataclasses{"dataclasses"};

}  // namespace tarnwick::host
