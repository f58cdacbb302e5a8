#include "tarnwick/host/klayout.hpp"

#include <utility>

#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::klayout {

nb::object layout_type() { return bindings::klayout_db.operation("Layout"); }

nb::object new_layout() { return layout_type()(); }

void read_layout(nb::handle layout, nb::handle path) { layout.attr("read")(path); }

nb::object read_layout_file(nb::handle path, nb::handle layer_stack, nb::handle cell) {
  return nb::module_::import_("tarnwick.layout_file")
      .attr("read_layout")(path, layer_stack, nb::arg("cell") = cell);
}

nb::object simple_trans(int rotation, bool mirror, std::int64_t dx, std::int64_t dy) {
  return bindings::klayout_db.operation("Trans")(rotation, mirror, dx, dy);
}

nb::object simple_dtrans(int rotation, bool mirror, double dx, double dy) {
  return bindings::klayout_db.operation("DTrans")(rotation, mirror, dx, dy);
}

nb::object complex_dtrans(double magnification, double angle, bool mirror, double dx, double dy) {
  return bindings::klayout_db.operation("DCplxTrans")(magnification, angle, mirror, dx, dy);
}

nb::object complex_trans_of(nb::handle complex_dtrans) {
  return bindings::klayout_db.operation("ICplxTrans")(complex_dtrans);
}

TransKind trans_kind(nb::handle value) {
  for (auto [name, kind] :
       {std::pair{"Trans", TransKind::trans}, std::pair{"DTrans", TransKind::dtrans},
        std::pair{"ICplxTrans", TransKind::icplx_trans},
        std::pair{"DCplxTrans", TransKind::dcplx_trans}}) {
    if (nb::isinstance(value, bindings::klayout_db.operation(name))) return kind;
  }
  return TransKind::none;
}

bool polygon_has_bytes() {
  return nb::hasattr(bindings::klayout_db.operation("Polygon"), "to_bytes");
}

bool complex_trans_has_bytes() {
  return nb::hasattr(bindings::klayout_db.operation("ICplxTrans"), "to_bytes");
}

}  // namespace tarnwick::host::klayout
