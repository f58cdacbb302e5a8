#include "tarnwick/host/factories.hpp"

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/files.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host {

namespace {
// `function(*items, **kwargs)` for any iterable `items`.
nb::object call_spread(nb::handle function, nb::handle items, nb::handle kwargs = nb::handle()) {
  nb::object arguments = checked(PySequence_Tuple(items.ptr()));
  return checked(PyObject_Call(function.ptr(), arguments.ptr(), kwargs.ptr()));
}
}  // namespace

namespace database {

void set_status(nb::handle names, const char* status) {
  nb::dict kwargs;
  kwargs["status"] = status;
  call_spread(bindings::database.operation("set_factories_status_by_names"), names, kwargs);
}

nb::object factories_by_name(nb::handle name) {
  return bindings::database.operation("get_factories_by_name")(name);
}

nb::object factory_record(nb::handle name) {
  nb::object found = factories_by_name(name);
  if (!contains(found, name)) return nb::none();
  return found[name];
}

void add_factories(nb::handle records) {
  call_spread(bindings::database.operation("add_factories"), records);
}

void sync_from_kcl() { bindings::database.operation("sync_from_kcl")(); }

}  // namespace database

namespace callgraph {
nb::object static_records() { return bindings::callgraph.operation("get_static_records")(); }
}  // namespace callgraph

namespace factory_record {

nb::object absolute_source(nb::handle record) {
  nb::object source = record.attr("absolute_source")();
  if (!source.is_none()) files::check_path_from_service(source, "FactoryRecord", "absolute_source");
  return source;
}

nb::object error_copy(nb::handle record, nb::handle name, nb::handle message) {
  nb::object copy = record.attr("model_copy")();
  copy.attr("name") = name;
  copy.attr("status") = status::ERROR;
  copy.attr("message") = message;
  return copy;
}

}  // namespace factory_record

}  // namespace tarnwick::host
