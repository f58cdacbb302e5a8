#include "tarnwick/core/build/checks.hpp"

#include "tarnwick/core/build/errors.hpp"
#include "tarnwick/core/build/python_text.hpp"
#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/services.hpp"
#include "tarnwick/host/text.hpp"

namespace tarnwick::build {

namespace host = tarnwick::host;

namespace {

using host::is_instance;
// `mapping[key]` when `key in mapping`, else None: the membership test and lookup that the PDK's
// cell map and the database's result support.
nb::object entry_or_none(nb::handle mapping, nb::handle key) {
  if (!contains(mapping, key)) return nb::none();
  return mapping[key];
}

// getattr(value, name), or nothing when the attribute is missing (AttributeError only, as
// hasattr); any other error raised while reading it propagates.
std::optional<nb::object> optional_attr(nb::handle value, const char* name) {
  PyObject* attribute = PyObject_GetAttrString(value.ptr(), name);
  if (attribute != nullptr) return nb::steal(attribute);
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw nb::python_error();
  PyErr_Clear();
  return std::nullopt;
}

// " (<file>:<line>)" of the function (or of the one it wraps), "" when its source is not found.
std::string source_location(nb::handle cell_func) {
  nb::object func_to_inspect =
      optional_attr(cell_func, "__wrapped__").value_or(nb::borrow(cell_func));
  try {
    nb::handle inspect = host::inspect.resolved();
    nb::object source_file = inspect.attr("getfile")(func_to_inspect);
    // findsource, unlike getsourcelines, does not unwrap further: file and line stay those of
    // the same function. It counts lines from 0.
    nb::object lineno = inspect.attr("findsource")(func_to_inspect)[1] + nb::int_(1);
    // getfile gives text for every object it accepts; anything else counts as no file.
    if (!PyUnicode_Check(source_file.ptr())) return {};
    const std::string file = utf8(source_file);
    return " (" + std::string(host::text::last_path_component(file)) + ":" + text_of(lineno) + ")";
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_OSError) || error.matches(PyExc_TypeError)) return {};
    throw;
  }
}

// The whole text of the file at `path`, as YAML safe_load gives it.
nb::object load_yaml_file(nb::handle path) {
  nb::object text =
      host::pathlib.resolved().attr("Path")(path).attr("read_text")(nb::arg("encoding") = "utf-8");
  return host::yaml.resolved().attr("safe_load")(text);
}
}  // namespace

nb::object cell_function(const std::string& name) {
  return entry_or_none(host::get_pdk().attr("cells"), py_text(name));
}

std::string defining_module_name(nb::handle cell_func) {
  if (cell_func.is_none()) return {};
  std::optional<nb::object> module = optional_attr(cell_func, "__module__");
  if (!module || !PyUnicode_Check(module->ptr())) return {};
  return utf8(*module);
}

bool is_schematic_module(const std::string& module_name) {
  return host::text::ends_with(module_name, "_picyml");
}

nb::object factory_record(const std::string& name) {
  nb::str key = py_text(name);
  return entry_or_none(host::database.resolved().attr("get_factories_by_name")(key), key);
}

std::optional<std::string> check_component_default_args(const std::string& name,
                                                        nb::handle cell_func) {
  nb::object tkcell = host::tesselink_kcell.resolved().attr("TKCell");
  nb::object parameters;
  try {
    parameters = host::inspect.resolved().attr("signature")(cell_func).attr("parameters");
  } catch (nb::python_error& error) {
    if (error.matches(PyExc_ValueError) || error.matches(PyExc_TypeError)) return std::nullopt;
    throw;
  }
  nb::object empty = host::inspect.resolved().attr("Parameter").attr("empty");
  std::string params_str;
  for (nb::handle parameter : parameters.attr("values")()) {
    nb::object default_value = parameter.attr("default");
    if (default_value.is(empty)) continue;
    std::optional<nb::object> base = optional_attr(default_value, "base");
    if (!base || !is_instance(*base, tkcell)) continue;
    if (!params_str.empty()) params_str += ", ";
    params_str += "'" + text_of(parameter.attr("name")) + "'";
  }
  if (params_str.empty()) return std::nullopt;
  return "Cell '" + name + "' has Component instance(s) as default argument(s): " + params_str +
         ". This causes caching issues. Consider passing the cell name as string and calling "
         "bk.get_component(name) inside the function instead." +
         source_location(cell_func);
}

std::optional<SchematicNetlist> get_schematic_netlist(const std::string& name) {
  if (!is_schematic_module(defining_module_name(cell_function(name)))) return std::nullopt;
  nb::object record = factory_record(name);
  if (record.is_none()) return std::nullopt;
  nb::object path = record.attr("absolute_source")();
  if (path.is_none()) return std::nullopt;
  if (!nb::cast<bool>(host::pathlib.resolved().attr("Path")(path).attr("is_file")())) {
    return std::nullopt;
  }
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
    return "Schematic '" + name + "' references itself as instance '" + text_of(inst_name) +
           "'. This would cause infinite recursion. Remove the self-referencing instance from " +
           std::string(host::text::last_path_component(text_of(result->path))) + ".";
  }
  return std::nullopt;
}

}  // namespace tarnwick::build
