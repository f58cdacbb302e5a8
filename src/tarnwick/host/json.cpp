#include "tarnwick/host/json.hpp"

#include "tarnwick/host/services.hpp"

namespace tarnwick::host::json {

namespace {
nb::object options(Style style) {
  nb::handle module = orjson.resolved();
  switch (style) {
    case Style::compact:
      return nb::int_(0);
    case Style::indent2:
      return module.attr("OPT_INDENT_2");
    case Style::scene:
      return module.attr("OPT_INDENT_2") | module.attr("OPT_SERIALIZE_NUMPY") |
             module.attr("OPT_NON_STR_KEYS");
  }
  return nb::int_(0);
}
}  // namespace

nb::bytes dumps_bytes(nb::handle value, Style style) {
  nb::object encoded = orjson.resolved().attr("dumps")(value, nb::arg("default") = shared_none.get(),
                                                       nb::arg("option") = options(style));
  return nb::borrow<nb::bytes>(encoded);
}

nb::str dumps(nb::handle value, Style style) {
  nb::bytes encoded = dumps_bytes(value, style);
  return nb::str(encoded.c_str(), encoded.size());
}

}  // namespace tarnwick::host::json
