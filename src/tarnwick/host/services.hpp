#pragma once
// The host layer: typed facades over the host application's services and the libraries that the
// compiled modules use. This is the only C++ that names a host service, a library module or an
// attribute of either; the modules call the facades.
//
//   settings.hpp    output directories                  (tarnwick.settings)
//   factories.hpp   factory database, static records,   (tarnwick.core.database,
//                   factory records                      tarnwick.core.callgraph, tarnwick.models)
//   pdk.hpp         the active PDK and its members      (tarnwick.core.pdk)
//   messages.hpp    user-interface messages             (tarnwick.core.communication, .models)
//   logger.hpp      the host logger                     (tarnwick.logger)
//   documents.hpp   YAML reading, netlist schemas       (yaml, tarnwick.core.schema)
//   json.hpp        the one JSON writer                 (orjson, tarnwick.core.shared.none)
//   library.hpp     brenvik, tesselink, ostrand, components and cell functions
//   klayout.hpp     KLayout layouts and transformations (klayout.db)
//   files.hpp       paths, directories, temporary files (pathlib, os, tempfile)
//   runtime.hpp     introspection of functions and errors, natural order, mappings,
//                   Ctrl-C held back while objects are freed (tarnwick.interrupts)
//   arrays.hpp      numpy arrays and dataclasses of the scene records (numpy, dataclasses)
//   python_text.hpp Python texts and raising errors with them
//
// Every facade calls through a lazy binding (lazy.hpp): loading a compiled module imports no
// service; a service is imported on its first use. Nothing caches a service's answer: the active
// PDK, the settings and the logger are obtained afresh at every call. Errors raised by a service
// propagate unchanged as nb::python_error.
//
// Replacing a service (tests): set the operation on the service's Python module, for example
// `monkeypatch.setattr(tarnwick.core.database, "add_factories", fake)` or
// `monkeypatch.setattr(tarnwick.settings, "get_log_dir", fake)`. Every facade reads the operation
// from its module at each call, so the replacement takes effect at once, for every compiled module,
// and is gone when the attribute is restored. Library attributes (brenvik.get_layer_stack, ...)
// are replaced the same way on the library module.
#include <nanobind/nanobind.h>

#include "tarnwick/host/arrays.hpp"
#include "tarnwick/host/documents.hpp"
#include "tarnwick/host/factories.hpp"
#include "tarnwick/host/files.hpp"
#include "tarnwick/host/klayout.hpp"
#include "tarnwick/host/lazy.hpp"
#include "tarnwick/host/library.hpp"
#include "tarnwick/host/logger.hpp"
#include "tarnwick/host/messages.hpp"
#include "tarnwick/host/pdk.hpp"
#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/runtime.hpp"
#include "tarnwick/host/service_bindings.hpp"
#include "tarnwick/host/settings.hpp"

namespace tarnwick::host {

// Binds every service and library module (none is imported yet). Each compiled module calls this
// once, when it is loaded.
void bind_services();

// --- libraries of the 3D scene module's own data (not host services)
extern Binding numpy;                // numpy: float32 arrays of the scene
extern Binding fnmatch_fnmatchcase;  // fnmatch.fnmatchcase: layer exclusion patterns
extern Binding dataclasses;          // dataclasses: the scene records describe their fields so

// Whether the runtime checks assertions (not run with -O).
using runtime::assertions_enabled;

}  // namespace tarnwick::host
