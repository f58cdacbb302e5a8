#include "tarnwick/host/klayout.hpp"

#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::klayout {

nb::object layout_type() { return bindings::klayout_db.operation("Layout"); }

nb::object new_layout() { return layout_type()(); }

void read_layout(nb::handle layout, nb::handle path) { layout.attr("read")(path); }

nb::object simple_trans(int rotation, bool mirror, std::int64_t dx, std::int64_t dy) {
  return bindings::klayout_db.operation("Trans")(rotation, mirror, dx, dy);
}

}  // namespace tarnwick::host::klayout
