#include "tarnwick/host/files.hpp"

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/python_text.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::files {

nb::object path(nb::handle value) { return bindings::pathlib.operation("Path")(value); }

nb::object child(nb::handle directory, std::string_view name) {
  return path(directory) / py_text(name);
}

nb::object parent(nb::handle path) { return path.attr("parent"); }

void make_directories(nb::handle directory) {
  path(directory).attr("mkdir")(nb::arg("parents") = true, nb::arg("exist_ok") = true);
}

bool is_file(nb::handle path) { return truthy(files::path(path).attr("is_file")()); }

nb::object read_text(nb::handle path) {
  return files::path(path).attr("read_text")(nb::arg("encoding") = "utf-8");
}

void write_bytes(nb::handle path, nb::handle data) { files::path(path).attr("write_bytes")(data); }

void write_text(nb::handle path, nb::handle text) {
  files::path(path).attr("write_text")(text, nb::arg("encoding") = "utf-8");
}

void remove(nb::handle path) { files::path(path).attr("unlink")(); }

nb::object temporary_file(const char* suffix) {
  nb::object file = bindings::tempfile.operation("NamedTemporaryFile")(nb::arg("suffix") = suffix,
                                                                       nb::arg("delete") = false);
  nb::object name = file.attr("name");
  file.attr("close")();
  return name;
}

void check_path_from_service(nb::handle value, const char* service, const char* operation) {
  if (!PyUnicode_Check(value.ptr()) && !is_instance(value, bindings::os.operation("PathLike"))) {
    raise(PyExc_TypeError,
          join({py_text(service), nb::str("."), py_text(operation), nb::str("() gave "),
                name_of_type(value), nb::str(", not a path")}));
  }
}

nb::object path_from_service(nb::handle value, const char* service, const char* operation) {
  check_path_from_service(value, service, operation);
  return path(value);
}

}  // namespace tarnwick::host::files
