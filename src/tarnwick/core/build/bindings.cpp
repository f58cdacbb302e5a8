// Python binding of tarnwick.core.build.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include "tarnwick/core/build/checks.hpp"
#include "tarnwick/core/build/driver.hpp"
#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/core/build/outcome.hpp"
#include "tarnwick/core/build/single_build.hpp"
#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/services.hpp"

namespace nb = nanobind;
using namespace nb::literals;
namespace build = tarnwick::build;

namespace {
// Names and messages cross as Python text (lone surrogates kept); see host/python_text.hpp.
std::string text(nb::handle value) { return tarnwick::host::utf8(value); }

nb::object optional_text(const std::optional<std::string>& value) {
  return value ? nb::object(tarnwick::host::py_text(*value)) : nb::none();
}
}  // namespace

NB_MODULE(build, m) {
  m.doc() = "Batch builds of PDK factories by name.";
  tarnwick::host::bind_services();
  nb::list all;  // the public names (the stub's too)
  for (const char* name : {"ComponentAsDefaultArgError", "SelfReferenceError", "build_by_names",
                           "build_by_names_reporting"}) {
    all.append(name);
  }
  m.attr("__all__") = all;
  build::add_error_types(m);

  m.def(
      "build_by_names",
      [](nb::args names, bool with_metadata) { build::build_by_names(names, with_metadata); },
      "names"_a, nb::kw_only(), "with_metadata"_a = true,
      "Build the named factories of the active PDK again, in natural name order.\n\n"
      "Marks them BUSY, builds each one (see _build_by_name), resynchronises the factory\n"
      "database, stores the error records of the failed builds and, in every case, sends\n"
      "ReloadFactoriesMessage. An error that escapes a build ends the batch and is raised\n"
      "after the message.");

  m.def(
      "build_by_names_reporting",
      [](nb::args names, bool with_metadata, nb::object report) {
        build::build_by_names(names, with_metadata, report);
      },
      "names"_a, nb::kw_only(), "with_metadata"_a = true, "report"_a,
      nb::sig("def build_by_names_reporting(*names: str, with_metadata: bool = True, "
              "report: typing.Callable[[str, bool, tarnwick.models.FactoryRecord | None], "
              "object]) -> None"),
      "build_by_names, calling report(name, failed, result) after each build: whether a check\n"
      "or a stage failed, and the build's error record (or None). For callers that show each\n"
      "outcome as it comes, such as the command line.");

  m.def(
      "_build_by_name",
      [](nb::str name, bool with_metadata) {
        return build::build_by_name(text(name), with_metadata);
      },
      "name"_a, nb::kw_only(), "with_metadata"_a = true,
      nb::sig("def _build_by_name(name: str, *, with_metadata: bool = True) -> "
              "tarnwick.models.FactoryRecord | None"),
      "Build one factory: checks, construction, GDS file and, for a schematic cell, its schema\n"
      "file. Returns the error record of a failed stage, or None.");

  m.def(
      "_check_component_default_args",
      [](nb::str name, nb::handle cell_func) {
        return optional_text(build::check_component_default_args(text(name), cell_func));
      },
      "name"_a, "cell_func"_a,
      nb::sig("def _check_component_default_args(name: str, cell_func: typing.Callable[..., "
              "typing.Any]) -> str | None"),
      "The message for a cell function that has components as parameter defaults, or None.");

  m.def(
      "_get_schematic_netlist",
      [](nb::str name) -> nb::object {
        std::optional<build::SchematicNetlist> result = build::get_schematic_netlist(text(name));
        if (!result) return nb::none();
        return nb::make_tuple(result->netlist, result->path);
      },
      "name"_a,
      nb::sig("def _get_schematic_netlist(name: str) -> tuple[dict[typing.Any, typing.Any], "
              "pathlib.Path] | None"),
      "The (netlist, path) of a readable schematic cell, or None.");

  m.def(
      "_check_self_referencing_schematic",
      [](nb::str name) {
        return optional_text(build::check_self_referencing_schematic(text(name)));
      },
      "name"_a, nb::sig("def _check_self_referencing_schematic(name: str) -> str | None"),
      "The message for a schematic that lists itself among its instances, or None.");

  m.def(
      "_handle_build_success",
      [](nb::str factory_name) { build::handle_build_success(text(factory_name)); },
      "factory_name"_a, "Log a successful build and reload the cell's layout.");

  m.def(
      "_handle_build_error",
      [](nb::str factory_name, nb::str error_message, nb::handle exception) {
        return build::handle_build_error(text(factory_name), text(error_message), exception);
      },
      "factory_name"_a, "error_message"_a, "exception"_a,
      nb::sig("def _handle_build_error(factory_name: str, error_message: str, exception: "
              "BaseException) -> tarnwick.models.FactoryRecord | None"),
      "Log a failed build, write its error log file and return its error record (or None).");

  m.def(
      "_format_error_with_location",
      [](nb::handle exception) {
        return tarnwick::host::py_text(build::format_error_with_location(exception));
      },
      "exception"_a, nb::sig("def _format_error_with_location(exception: BaseException) -> str"),
      "The error's text followed by ' (file:line)' of the frame where it was raised.");

  m.def(
      "_update_factory_error_status",
      [](nb::str factory_name, nb::str error_message) {
        return build::update_factory_error_status(text(factory_name), text(error_message));
      },
      "factory_name"_a, "error_message"_a,
      nb::sig("def _update_factory_error_status(factory_name: str, error_message: str) -> "
              "tarnwick.models.FactoryRecord | None"),
      "A copy of the factory's record with status ERROR and the message, or None.");
}
