#include "tarnwick/host/klayout.hpp"

#include <utility>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/service_bindings.hpp"

namespace tarnwick::host::klayout {

namespace {

// Interned attribute names, made once: the per-shape calls look them up by pointer.
struct Names {
  nb::object polygon = nb::steal(PyUnicode_InternFromString("polygon"));
  nb::object to_bytes = nb::steal(PyUnicode_InternFromString("to_bytes"));
  nb::object is_text = nb::steal(PyUnicode_InternFromString("is_text"));
};

Names& names() {
  static Names* n = new Names();  // lives as long as the process
  return *n;
}

nb::object call_method(nb::handle self, nb::handle name) {
  PyObject* args[] = {self.ptr()};
  return checked(
      PyObject_VectorcallMethod(name.ptr(), args, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

}  // namespace

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

double dbu(nb::handle layout) { return as_double(layout.attr("dbu")); }

nb::object layer_indices(nb::handle layout) { return layout.attr("layer_indices")(); }

LayerNumbers layer_numbers(nb::handle layout, nb::handle index) {
  nb::object info = layout.attr("get_info")(index);
  return {as_int64(info.attr("layer")), as_int64(info.attr("datatype"))};
}

nb::object each_cell(nb::handle layout) { return layout.attr("each_cell")(); }

nb::object top_cells(nb::handle layout) { return layout.attr("top_cells")(); }

nb::object cell_by_index(nb::handle layout, std::int64_t index) {
  return layout.attr("cell")(index);
}

std::int64_t cell_index(nb::handle cell) { return as_int64(cell.attr("cell_index")()); }

nb::object cell_name(nb::handle cell) { return cell.attr("name"); }

nb::object each_shape(nb::handle cell, std::int64_t layer) {
  return cell.attr("shapes")(layer).attr("each")();
}

std::uint64_t shape_count(nb::handle cell, std::int64_t layer) {
  return static_cast<std::uint64_t>(as_int64(cell.attr("shapes")(layer).attr("size")()));
}

nb::object shape_polygon(nb::handle shape) {
  return checked(PyObject_GetAttr(shape.ptr(), names().polygon.ptr()));
}

bool shape_is_text(nb::handle shape) { return truthy(call_method(shape, names().is_text)); }

nb::object to_bytes(nb::handle object) { return call_method(object, names().to_bytes); }

nb::object hull_points(nb::handle polygon) {
  return polygon.attr("to_dtype")().attr("each_point_hull")();
}

XY xy(nb::handle point) { return {as_double(point.attr("x")), as_double(point.attr("y"))}; }

nb::object each_instance(nb::handle cell) { return cell.attr("each_inst")(); }

InstanceArray instance_array(nb::handle instance) {
  InstanceArray result;
  result.target = as_int64(instance.attr("cell_index"));
  result.array = instance.attr("cell_inst");
  result.complex = truthy(result.array.attr("is_complex")());
  result.size = as_int64(result.array.attr("size")());
  return result;
}

nb::object array_trans(const InstanceArray& instance) {
  return instance.array.attr(instance.complex ? "cplx_trans" : "trans");
}

RegularArray regular_array(const InstanceArray& instance) {
  RegularArray result{};
  result.regular = truthy(instance.array.attr("is_regular_array")());
  if (!result.regular) return result;
  result.na = as_int64(instance.array.attr("na"));
  result.nb = as_int64(instance.array.attr("nb"));
  return result;
}

ArrayVectors array_vectors(const InstanceArray& instance) {
  nb::object a = instance.array.attr("a");
  nb::object b = instance.array.attr("b");
  return {xy(a), xy(b)};
}

nb::object each_element_trans(const InstanceArray& instance) {
  return instance.array.attr(instance.complex ? "each_cplx_trans" : "each_trans")();
}

SimpleTransParts simple_trans_parts(nb::handle trans) {
  const std::int64_t code = as_int64(trans.attr("rot"));
  const XY disp = xy(trans.attr("disp"));
  return {static_cast<int>(code), disp.x, disp.y};
}

ComplexTransParts complex_trans_parts(nb::handle trans) {
  ComplexTransParts result;
  result.angle_degrees = as_double(trans.attr("angle"));
  result.magnification = as_double(trans.attr("mag"));
  result.mirror = truthy(trans.attr("is_mirror")());
  const XY disp = xy(trans.attr("disp"));
  result.dx = disp.x;
  result.dy = disp.y;
  return result;
}

}  // namespace tarnwick::host::klayout
