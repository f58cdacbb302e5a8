#pragma once
// The runtime's introspection of functions and errors, and small library services of the runtime
// (natural ordering, mapping checks, assertion mode).
#include <nanobind/nanobind.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::host::runtime {

namespace nb = nanobind;

// getattr(value, name), or nothing when the attribute is missing (AttributeError only, as
// hasattr); any other error raised while reading it propagates.
std::optional<nb::object> optional_attribute(nb::handle value, const char* name);

// One parameter of a function's signature.
struct Parameter {
  nb::object name;
  std::optional<nb::object> default_value;  // nothing when the parameter has no default
};
// The parameters of `function` in declaration order (inspect.signature). Errors of the signature
// (ValueError, TypeError when none can be had) propagate.
std::vector<Parameter> parameters(nb::handle function);
// `function.__wrapped__` when it has one (one level only), else `function`.
nb::object wrapped_or_self(nb::handle function);
// The source file of `function` (inspect.getfile). OSError or TypeError when there is none.
nb::object source_file(nb::handle function);
// The first line (1-based) of the source of `function` itself, without unwrapping it further
// (inspect.findsource). OSError or TypeError when its source cannot be found.
nb::object first_source_line(nb::handle function);

// traceback.format_exc(): the formatted trace of the error being handled, all entries.
nb::object format_exc();
// The innermost entry of an error's trace, where it was raised.
struct TraceEntry {
  nb::object filename;  // the code's source file name
  nb::object lineno;
};
// Nothing when the error has no trace (it was never raised).
std::optional<TraceEntry> innermost_trace_entry(nb::handle error);

// natsort.natsorted(values): a new list in natural order.
nb::object natsorted(nb::handle values);
// Whether `value` is a map: a dict (or subclass) or any other collections.abc.Mapping.
bool is_mapping(nb::handle value);
// Whether the runtime checks assertions (not run with -O): sys.flags.optimize is 0.
bool assertions_enabled();

// Runs `work` with Ctrl-C held back (tarnwick.interrupts.held) and delivers it afterwards, also
// when `work` throws; `work` runs also when the interrupt came before the call. For work that
// frees library objects in bulk (their weak-reference callbacks and finalisers run Python code,
// and an interrupt raised inside one would be dropped) and for clean-up that must not be skipped.
void with_interrupts_held(const std::function<void()>& work);

}  // namespace tarnwick::host::runtime
