#pragma once
// Thin typed access to the host application's services and to the component library.
//
// Each function makes one call through a lazy binding and hands back what the service returned;
// errors raised by a service propagate unchanged as nb::python_error. Nothing here caches a
// service's answer: the active PDK, the settings and the logger are obtained afresh at every call.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>

#include "tarnwick/host/lazy.hpp"

namespace tarnwick::host {

// Binds every service below (no module is imported yet). Each compiled module calls this once,
// when it is loaded.
void bind_services();

// --- tarnwick.core.pdk
nb::object get_pdk();
extern Binding pdk_get_pdk;

// --- tarnwick.core.communication
void send_message(nb::handle message);

// --- tarnwick.models
nb::object reload_factories_message();
nb::object reload_layout_message(const std::string& cell);
nb::object depthview_message(nb::handle content);

// tarnwick.settings.get_max_placements(): the most placements a 3D scene may hold.
std::uint64_t max_placements();
// tarnwick.settings.get_max_message_bytes(): the most bytes a 3D scene's names and ids may take.
std::uint64_t max_message_bytes();

// --- tarnwick.core.database
extern Binding database;
// --- tarnwick.core.callgraph
extern Binding callgraph;
// --- tarnwick.core.schema
extern Binding schema;
// --- tarnwick.settings
extern Binding settings;
// --- tarnwick.core.shared.none, the JSON writer's fallback hook
extern Binding shared_none;

// --- tarnwick.logger: get_logger() afresh, then one call with one text.
extern Binding logger_get_logger;
void log_debug(const std::string& text);
void log_info(const std::string& text);
void log_warning(const std::string& text);
void log_error(const std::string& text);

// --- component library and helpers
extern Binding brenvik;          // the brenvik package
extern Binding tesselink_kcell;  // tesselink.kcell
extern Binding ostrand;          // the ostrand package
extern Binding klayout_db;       // klayout.db
extern Binding numpy;            // numpy
extern Binding yaml;             // PyYAML
extern Binding natsort;          // natsort
extern Binding orjson;           // orjson (use host::json to write JSON)

// --- the runtime's own modules used for introspection and files
extern Binding inspect;    // inspect
extern Binding traceback;  // traceback
extern Binding tempfile;   // tempfile
extern Binding pathlib;    // pathlib

// --- used by tarnwick.core.freeze
// `import brenvik`: a plain import at every call, so a replaced sys.modules entry is seen. Import
// errors propagate.
nb::object import_brenvik();
// Whether `value` is a map: a dict (or subclass) or any other collections.abc.Mapping.
bool is_mapping(nb::handle value);

// --- used by tarnwick.core.depthview
extern Binding tesselink;  // the tesselink package (LayerEnum)
// Whether the runtime checks assertions (not run with -O): sys.flags.optimize is 0.
bool assertions_enabled();
// fnmatch.fnmatchcase: shell-style wildcard matching of a whole name (layer exclusion patterns).
extern Binding fnmatch_fnmatchcase;
// dataclasses: the scene records describe their fields as dataclasses does.
extern Binding dataclasses;

}  // namespace tarnwick::host
