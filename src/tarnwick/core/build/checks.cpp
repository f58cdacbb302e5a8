#include "tarnwick/core/build/checks.hpp"

#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/support/text.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;
using host::py_text;
using host::utf8;
using host::utf8_text_of;

namespace {

// " (<file>:<line>)" of the function (or of the one it wraps), "" when its source is not found.
std::string source_location(nb::handle cell_func) {
  nb::object func_to_inspect = host::runtime::wrapped_or_self(cell_func);
  try {
    nb::object source_file = host::runtime::source_file(func_to_inspect);
    nb::object lineno = host::runtime::first_source_line(func_to_inspect);
    // getfile gives text for every object it accepts; anything else counts as no file.
    if (!PyUnicode_Check(source_file.ptr())) return {};
    const std::string file = utf8(source_file);
    return " (" + std::string(support::text::last_path_component(file)) + ":" +
           utf8_text_of(lineno) + ")";
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_OSError) || error.matches(PyExc_TypeError)) return {};
    throw;
  }
}

// The whole text of the file at `path`, as YAML safe_load gives it.
nb::object load_yaml_file(nb::handle path) {
  return host::yaml::safe_load(host::files::read_text(path));
}
}  // namespace

nb::object cell_function(const std::string& name) {
  return host::pdk::cell_function(host::get_pdk(), py_text(name));
}

nb::object factory_record(const std::string& name) {
  return host::database::factory_record(py_text(name));
}

std::optional<std::string> check_component_default_args(const std::string& name,
                                                        nb::handle cell_func) {
  nb::object tkcell = host::library::tkcell_type();
  std::vector<host::runtime::Parameter> parameters;
  try {
    parameters = host::runtime::parameters(cell_func);
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_ValueError) || error.matches(PyExc_TypeError)) return std::nullopt;
    throw;
  }
  std::string params_str;
  for (const host::runtime::Parameter& parameter : parameters) {
    if (!parameter.default_value) continue;
    std::optional<nb::object> base =
        host::runtime::optional_attribute(*parameter.default_value, "base");
    if (!base || !host::is_instance(*base, tkcell)) continue;
    if (!params_str.empty()) params_str += ", ";
    params_str += "'" + utf8_text_of(parameter.name) + "'";
  }
  if (params_str.empty()) return std::nullopt;
  return "Cell '" + name + "' has Component instance(s) as default argument(s): " + params_str +
         ". This causes caching issues. Consider passing the cell name as string and calling "
         "bk.get_component(name) inside the function instead." +
         source_location(cell_func);
}

std::optional<SchematicNetlist> get_schematic_netlist(const std::string& name) {
  if (!host::library::is_schematic_cell(cell_function(name))) return std::nullopt;
  nb::object record = factory_record(name);
  if (record.is_none()) return std::nullopt;
  nb::object path = host::factory_record::absolute_source(record);
  if (path.is_none() || !host::files::is_file(path)) return std::nullopt;
  nb::object netlist;
  try {
    netlist = load_yaml_file(path);
  } catch (nb::python_error& error) {
    if (is_ordinary(error)) return std::nullopt;
    throw;
  }
  if (!PyDict_Check(netlist.ptr())) return std::nullopt;
  return SchematicNetlist{nb::borrow<nb::dict>(netlist), path};
}

std::optional<std::string> check_self_referencing_schematic(const std::string& name) {
  std::optional<SchematicNetlist> result = get_schematic_netlist(name);
  if (!result) return std::nullopt;
  nb::str own_name = py_text(name);
  nb::object instances = result->netlist.contains("instances")
                             ? nb::object(result->netlist["instances"])
                             : nb::object(nb::dict());
  if (!PyDict_Check(instances.ptr())) return std::nullopt;
  for (auto [inst_name, inst] : nb::borrow<nb::dict>(instances)) {
    nb::object comp;
    if (PyUnicode_Check(inst.ptr())) {
      comp = nb::borrow(inst);
    } else if (PyDict_Check(inst.ptr())) {
      nb::dict entry = nb::borrow<nb::dict>(inst);
      comp = entry.contains("component") ? nb::object(entry["component"]) : nb::none();
    } else {
      continue;
    }
    if (!PyUnicode_Check(comp.ptr()) || !comp.equal(own_name)) continue;
    return "Schematic '" + name + "' references itself as instance '" + utf8_text_of(inst_name) +
           "'. This would cause infinite recursion. Remove the self-referencing instance from " +
           std::string(support::text::last_path_component(utf8_text_of(result->path))) + ".";
  }
  return std::nullopt;
}

}  // namespace tarnwick::build
