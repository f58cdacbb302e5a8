#include "tarnwick/host/files.hpp"

#include <cerrno>

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

namespace {
// Runs `operation` without the GIL and turns its file errors into OSError naming `path`.
template <typename Operation>
void without_gil(nb::handle path, Operation&& operation) {
  try {
    nb::gil_scoped_release unlocked;
    operation();
  } catch (const support::files::FileError& error) {
    nb::object name = checked(PyOS_FSPath(path.ptr()));
    errno = error.code().value();
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
    throw nb::python_error();
  } catch (const support::files::RefusedContent& refusal) {
    raise(PyExc_OSError, std::string_view(refusal.what()));
  }
}
}  // namespace

std::string os_path(nb::handle path) {
  nb::object text = checked(PyOS_FSPath(path.ptr()));
  nb::object encoded =
      PyBytes_Check(text.ptr()) ? text : checked(PyUnicode_EncodeFSDefault(text.ptr()));
  return {PyBytes_AS_STRING(encoded.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr()))};
}

void write_bytes(nb::handle path, nb::handle data) {
  if (!PyBytes_Check(data.ptr())) raise(PyExc_TypeError, "write_bytes expects bytes");
  bindings::files.operation("write_bytes")(path, data);
}

void write_text(nb::handle path, nb::handle text) {
  write_bytes(path, checked(PyUnicode_AsUTF8String(text.ptr())));
}

nb::object temporary_path_beside(nb::handle path, const char* suffix) {
  const std::string name = support::files::temporary_name_beside(os_path(path), suffix);
  return files::path(
      checked(PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size()))));
}

void commit(nb::handle temporary, nb::handle path, const ContentCheck& check) {
  const std::string from = os_path(temporary);
  const std::string to = os_path(path);
  without_gil(path, [&] { support::files::commit(from, to, check); });
}

void remove_quietly(nb::handle path) noexcept {
  try {
    support::files::remove_quietly(os_path(path));
  } catch (nb::python_error&) {
    // A path without an operating-system form names no file that could be removed.
  }
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
