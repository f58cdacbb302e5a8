#pragma once
// The lazy bindings behind the facades: one per host service module and library module. Private
// to the host layer: the modules call the facades, never these.
#include "tarnwick/host/lazy.hpp"

namespace tarnwick::host::bindings {

// Host services.
extern Binding pdk;            // tarnwick.core.pdk
extern Binding communication;  // tarnwick.core.communication
extern Binding models;         // tarnwick.models
extern Binding database;       // tarnwick.core.database
extern Binding callgraph;      // tarnwick.core.callgraph
extern Binding schema;         // tarnwick.core.schema
extern Binding settings;       // tarnwick.settings
extern Binding logger;         // tarnwick.logger
extern Binding shared;         // tarnwick.core.shared
extern Binding interrupts;     // tarnwick.interrupts
extern Binding files;          // tarnwick.files

// Libraries.
extern Binding brenvik;          // the component library
extern Binding tesselink;        // the cell library
extern Binding tesselink_kcell;  // tesselink.kcell
extern Binding ostrand;          // the helper library
extern Binding klayout_db;       // klayout.db
extern Binding yaml;             // PyYAML
extern Binding natsort;          // natsort
extern Binding orjson;           // orjson

// The runtime's own modules.
extern Binding inspect;
extern Binding traceback;
extern Binding tempfile;
extern Binding pathlib;
extern Binding os;

// Binds every binding above (no module is imported yet).
void bind_all();

}  // namespace tarnwick::host::bindings
