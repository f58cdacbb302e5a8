#pragma once
// The error types of the pre-build checks, and what the build treats as "the error being handled".
#include <nanobind/nanobind.h>

#include <string>

namespace tarnwick::build {

namespace nb = nanobind;

// Description texts of the two error types; they are the classes' docstrings.
inline constexpr const char* kComponentAsDefaultArgErrorDoc =
    "Raised when a cell function has a Component instance as a default argument.";
inline constexpr const char* kSelfReferenceErrorDoc =
    "Raised when a schematic references itself as an instance.";

// Creates the Python classes `ComponentAsDefaultArgError` and `SelfReferenceError` (both derived
// from Exception, no members of their own) as members of `module`. Called once, at module load.
void add_error_types(nb::module_& module);

// New, unraised instances carrying `message` (their text is the message). They have no trace.
nb::object component_as_default_arg_error(const std::string& message);
nb::object self_reference_error(const std::string& message);

// Raises ValueError (as nb::python_error) when `name` is no safe file stem (file_names.hpp): the
// stage that would write a file for such a factory fails instead of writing outside its directory.
void require_safe_file_stem(const std::string& name);

// The text of an error as it renders itself (str(error), UTF-8). An error whose own __str__ fails
// with an ordinary error still has a text to report: kUnprintableErrorText, as the runtime's
// traceback shows it. A request to stop the process raised meanwhile propagates.
inline constexpr const char* kUnprintableErrorText = "<exception str() failed>";
std::string error_text(nb::handle error);

// Whether a caught Python error is of the ordinary kind: an Exception, not a request to stop the
// process (KeyboardInterrupt, SystemExit, GeneratorExit), which no stage may absorb.
bool is_ordinary(const nb::python_error& error);

// For its lifetime, makes `error` the error being handled from Python's point of view, as inside
// an `except` block: what sys.exception(), sys.exc_info() and traceback.format_exc() report, and
// what becomes the __context__ of an error raised meanwhile. A null handle means that no error is
// being handled. What the thread handled before is restored on destruction, as at the end of an
// `except` block. Scopes nest; create and destroy them on the same thread, in LIFO order.
class HandlingError {
 public:
  explicit HandlingError(nb::handle error);
  ~HandlingError();
  HandlingError(const HandlingError&) = delete;
  HandlingError& operator=(const HandlingError&) = delete;

 private:
  // The error that the thread's innermost exception state held itself (owned), or null when it
  // held none and an outer state's error showed through.
  PyObject* previous_;
};

}  // namespace tarnwick::build
