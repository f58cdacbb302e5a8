// Python binding of tarnwick.core.depthview: declares classes, fields, defaults and signatures and
// forwards to the scene logic.
#include <nanobind/nanobind.h>

#include "tarnwick/host/services.hpp"

// --- scene records, transforms, layout parser, combination, layer extraction, viewer conversion
#include <nanobind/stl/array.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "tarnwick/core/depthview/combine.hpp"
#include "tarnwick/core/depthview/ktrans.hpp"
#include "tarnwick/core/depthview/layers.hpp"
#include "tarnwick/core/depthview/parser.hpp"
#include "tarnwick/core/depthview/records.hpp"
#include "tarnwick/core/depthview/viewer.hpp"
// --- end

// --- buffer encoding, layer properties, entry points
#include "tarnwick/core/depthview/buffer.hpp"
#include "tarnwick/core/depthview/entry.hpp"
#include "tarnwick/core/depthview/layer_properties.hpp"
#include "tarnwick/core/depthview/scene_writer.hpp"
#include "tarnwick/core/depthview/simplify.hpp"
// --- end

namespace nb = nanobind;

// --- scene records, transforms, layout parser, combination, layer extraction, viewer conversion
namespace {

using namespace nb::literals;
using namespace tarnwick::depthview;

PyType_Slot record_slots[] = {{Py_tp_traverse, (void*)record_traverse},
                              {Py_tp_clear, (void*)record_clear},
                              {0, nullptr}};
PyType_Slot ktrans_slots[] = {{Py_tp_traverse, (void*)KTrans::traverse},
                              {Py_tp_clear, (void*)KTrans::clear},
                              {0, nullptr}};
PyType_Slot parser_slots[] = {{Py_tp_traverse, (void*)Parser::traverse},
                              {Py_tp_clear, (void*)Parser::clear},
                              {0, nullptr}};

// `__dataclass_fields__` as the dataclasses module would make it, so that dataclasses.fields(),
// asdict() and replace() see the records' fields in their order.
nb::dict dataclass_fields(const RecordSchema& schema, const char* const* types) {
  nb::handle dataclasses = tarnwick::host::dataclasses.resolved();
  nb::dict fields;
  for (std::size_t i = 0; i < schema.fields.size(); ++i) {
    const FieldSpec& spec = schema.fields[i];
    nb::object f = dataclasses.attr("field")("kw_only"_a = spec.keyword_only);
    f.attr("name") = spec.name;
    f.attr("type") = types[i];
    f.attr("_field_type") = dataclasses.attr("_FIELD");
    fields[spec.name] = f;
  }
  return fields;
}

// One record class: construction as a dataclass takes it (`init_signature` is what Python shows),
// its own fields as read-write attributes (the base class declares the others), equality,
// text form, no hashing.
template <typename T, typename... Base>
nb::class_<T, Base...> declare_record(nb::module_& m, const RecordSchema& schema,
                                      std::size_t first_own_field, const char* doc,
                                      const char* init_signature, const char* const* types) {
  nb::class_<T, Base...> cls(m, schema.name, doc, nb::type_slots(record_slots));
  cls.def(
      "__init__",
      [&schema](T* self, nb::args args, nb::kwargs kwargs) {
        // Filled aside first: nanobind destroys no instance whose __init__ failed.
        Record values;
        init_record(values, schema, args, kwargs);
        new (self) T();
        static_cast<Record&>(*self) = std::move(values);
      },
      nb::sig(init_signature));
  for (std::size_t i = first_own_field; i < schema.fields.size(); ++i) {
    cls.def_prop_rw(
        schema.fields[i].name, [i](T& self) { return self.values[i]; },
        [i](T& self, nb::object value) { self.values[i] = std::move(value); });
  }
  cls.def("__eq__", &record_eq, "other"_a.none());
  if (&schema == &pdk_layer_schema) {
    cls.def("__repr__", &pdk_layer_repr);
    cls.def("__str__", &pdk_layer_repr);
  } else {
    cls.def("__repr__", &record_repr);
  }
  cls.attr("__hash__") = nb::none();
  nb::list match_args;
  for (std::size_t i = 0; i < schema.positional_count(); ++i) match_args.append(schema.fields[i].name);
  cls.attr("__match_args__") = nb::tuple(match_args);
  cls.attr("__dataclass_fields__") = dataclass_fields(schema, types);
  register_record_type(schema, cls);
  return cls;
}

void declare_scene(nb::module_& m) {
  m.attr("FORMAT") = FORMAT;
  m.attr("VERSION") = VERSION;

  nb::enum_<Output>(m, "Output", "How the scene is grouped: by cell hierarchy or by layer.")
      .value("CELL", Output::CELL)
      .value("LAYER", Output::LAYER);

  static const char* const cell_types[] = {"int", "str", "dict[str, list[int]]",
                                           "list[Reference]", "int", "list[KTrans]"};
  declare_record<Cell>(
      m, cell_schema, 0, "One layout cell as parsed: its own polygons per layer and its references.",
      "def __init__(self, cell_index: int, name: str, polygons: dict[str, list[int]] = ..., "
      "references: list[Reference] = ...) -> None",
      cell_types);
  declare_record<Reference, Cell>(
      m, reference_schema, 4,
      "A cell placed inside a parent cell, with one transform per placement.",
      "def __init__(self, cell_index: int, name: str, polygons: dict[str, list[int]] = ..., "
      "references: list[Reference] = ..., trans_count: int = 0, trans: list[KTrans] = ...) -> "
      "None",
      cell_types);
  static const char* const parsed_cells_types[] = {"list[list[tuple[float, float]]]",
                                                   "dict[int, tuple[int, int]]", "list[Cell]"};
  declare_record<ParsedCells>(
      m, parsed_cells_schema, 0, "The parser's result grouped by cell.",
      "def __init__(self, instances: list[list[tuple[float, float]]], layer_map: dict[int, "
      "tuple[int, int]], cells: list[Cell]) -> None",
      parsed_cells_types);
  static const char* const parsed_layers_types[] = {
      "list[list[tuple[float, float]]]", "dict[int, tuple[int, int]]", "list[dict[str, Cell]]"};
  declare_record<ParsedLayers>(
      m, parsed_layers_schema, 0,
      "The parser's result grouped by layer: per top cell, a map from layer id to the pruned tree.",
      "def __init__(self, instances: list[list[tuple[float, float]]], layer_map: dict[int, "
      "tuple[int, int]], layers: list[dict[str, Cell]]) -> None",
      parsed_layers_types);
  static const char* const pdk_layer_types[] = {"str", "float", "float", "str"};
  declare_record<PdkLayer>(
      m, pdk_layer_schema, 0, "Thickness, bottom height and colour of one fabrication layer.",
      "def __init__(self, name: str, thickness: float, zmin: float, color: str) -> None",
      pdk_layer_types);
  static const char* const part_types[] = {
      "str",   "str", "str",  "tuple[tuple[float, float, float], tuple[float, float, float, float]]",
      "Shape", "str", "bool", "tuple[int, int]",
      "str",   "str"};
  declare_record<PartBase>(
      m, part_base_schema, 0, "The common head of every node of the scene tree.",
      "def __init__(self, name: str, id: str, version: str = '3', loc: tuple = ((0.0, 0.0, 0.0), "
      "(0.0, 0.0, 0.0, 1.0))) -> None",
      part_types);
  static const char* const shape_types[] = {"list[int]", "float", "numpy.ndarray"};
  declare_record<Shape>(
      m, shape_schema, 0,
      "The geometry of a scene leaf: pooled polygon indices, extrusion height, placement "
      "matrices.",
      "def __init__(self, refs: list[int], height: float, matrices: numpy.ndarray = ...) -> None",
      shape_types);
  declare_record<Part, PartBase>(
      m, part_schema, 4, "A leaf of the scene tree.",
      "def __init__(self, name: str, id: str, version: str = '3', loc: tuple = ..., *, shape: "
      "Shape, color: str, renderback: bool = False, state: tuple[int, int] = (1, 1), type: str = "
      "'polygon', subtype: str = 'solid') -> None",
      part_types);
  static const char* const parts_types[] = {
      "str", "str", "str", "tuple[tuple[float, float, float], tuple[float, float, float, float]]",
      "list[Part | Parts]", "str", "list[numpy.ndarray]"};
  declare_record<Parts, PartBase>(
      m, parts_schema, 4, "An inner node of the scene tree.",
      "def __init__(self, name: str, id: str, version: str = '3', loc: tuple = ..., *, parts: "
      "list[Part | Parts] = ...) -> None",
      parts_types);
  declare_record<ViewerData, Parts>(
      m, viewer_data_schema, 5, "The root of the scene tree and the payload for the viewer.",
      "def __init__(self, name: str, id: str, version: str = '3', loc: tuple = ..., *, parts: "
      "list[Part | Parts] = ..., format: str = 'GDS', instances: list[numpy.ndarray] = ...) -> "
      "None",
      parts_types);

  nb::class_<KTrans>(m, "KTrans", "One placement: a wrapped KLayout simple transformation.",
                     nb::type_slots(ktrans_slots))
      .def(nb::init<nb::object>(), "trans"_a.none())
      .def_prop_ro("trans", &KTrans::trans, "The wrapped KLayout transformation.")
      .def("to_dict", &KTrans::to_dict,
           "{'mirror': bool, 'angle': degrees, 'displacement': [x, y]} of the wrapped "
           "transformation, unscaled.")
      .def(
          "trans_matrix", [](nb::handle self) { return trans_matrix(self); },
          "The 2x3 affine matrix ((c, -m*s, x), (s, m*c, y)) computed from to_dict().")
      .def("__eq__",
           [](KTrans& self, nb::handle other) -> nb::object {
             KTrans* k = as_ktrans(other);
             if (k == nullptr) return nb::borrow(Py_NotImplemented);
             return nb::bool_(KTrans::equal(self, *k));
           },
           "other"_a.none())
      .def("__hash__", &KTrans::hash)
      .def("__repr__", &KTrans::repr)
      .def_static("multiply", &KTrans::multiply, "parent_trans"_a.none(), "trans"_a.none(),
                  "Placements composed parent after child: with one side None the other as a "
                  "list (a list itself), else for each child transform (outer) and each parent "
                  "transform (inner) a new KTrans of their product.");

  nb::class_<Parser>(m, "ParseGDS",
                     "The layout parser: a KLayout layout into scene records, every distinct "
                     "polygon once in a shared pool.",
                     nb::type_slots(parser_slots))
      .def(nb::init<nb::handle, nb::object, double, nb::object, nb::object>(), "layout"_a.none(),
           "layers"_a.none(), "z_scale"_a = 1.0, "curve_tolerance"_a.none() = 0.01,
           "exclude_layers"_a.none() = nb::none())
      .def_rw("layout", &Parser::layout)
      .def_rw("layers", &Parser::layers)
      .def_rw("z_scale", &Parser::z_scale)
      .def_rw("curve_tolerance", &Parser::curve_tolerance, nb::arg("value").none())
      .def_rw("exclude_layers", &Parser::exclude_layers)
      .def_rw("instances", &Parser::instances)
      .def_ro("instance_index", &Parser::instance_index)
      .def_prop_ro("instance_mapping", &Parser::instance_mapping,
                   "{(cell index, layer index, shape position): instance index}, a copy.")
      .def_rw("parsed_cells", &Parser::parsed_cells, nb::arg("value").none())
      .def_rw("parsed_layers", &Parser::parsed_layers, nb::arg("value").none())
      .def_rw("cell_combined", &Parser::cell_combined)
      .def_rw("layer_combined", &Parser::layer_combined)
      .def_rw("layer_map", &Parser::layer_map)
      .def_rw("reverse_layer_map", &Parser::reverse_layer_map)
      .def_rw("cell_index_map", &Parser::cell_index_map)
      .def("get_name", &Parser::get_name, "layer_spec"_a.none())
      .def("get_zmin", &Parser::get_zmin, "layer_spec"_a.none())
      .def("get_height", &Parser::get_height, "layer_spec"_a.none())
      .def("get_color", &Parser::get_color, "layer_spec"_a.none())
      .def("extract_layers", &Parser::extract_layers)
      .def("extract_dpolygon", &Parser::extract_dpolygon, "polygon"_a.none())
      .def("parse_cells", &Parser::parse_cells, "cell"_a)
      .def("export_cells", &Parser::export_cells, nb::kw_only(), "combine"_a = true)
      .def("export_layers", &export_layers, nb::kw_only(), "combine"_a = true)
      .def("combine_references", &combine_references, "output"_a.none())
      .def("to_viewer", &to_viewer, "output"_a.none())
      .def(
          "asdict", [](Parser&, nb::handle obj) { return asdict(obj); }, "obj"_a.none())
      .def(
          "create_json", [](Parser&, nb::handle data) { return create_json(data); },
          "data"_a.none());
}

}  // namespace
// --- end

NB_MODULE(depthview, m) {
  m.doc() = "3D scene conversion: a layout component or GDS file to one 3D viewer message.";
  tarnwick::host::bind_services();
  nb::list all;
  all.append("depthview");
  m.attr("__all__") = all;

  // --- scene records, transforms, layout parser, combination, layer extraction, viewer conversion
  declare_scene(m);
  // --- end

  // --- buffer encoding, layer properties, entry points
  m.def("numpy_to_buffer_json", &tarnwick::depthview::numpy_to_buffer_json, nb::arg("value").none(),
        "The map form of a scene with every numeric array replaced by a base64 buffer record.");
  m.def("get_layer_properties", &tarnwick::depthview::get_layer_properties,
        nb::arg("layer_stack"), nb::arg("layer_views"),
        "Map from (layer, datatype) to PdkLayer from a LayerStack and its LayerViews.");
  // The entry points take Output.LAYER as default, so they are declared after the records.
  m.def("to_3D_viewer", &tarnwick::depthview::to_3d_viewer, nb::arg("component"),
        nb::arg("output").none() = m.attr("Output").attr("LAYER"),
        nb::arg("layer_views").none() = nb::none(), nb::arg("layer_stack").none() = nb::none(),
        nb::arg("z_scale") = 1.0, nb::arg("curve_tolerance").none() = 0.01,
        nb::arg("exclude_layers").none() = nb::none(), nb::kw_only(), nb::arg("as_dict") = false,
        "The 3D viewer scene of a component or GDS file: a ViewerData, or its map form.");
  m.def("_to_3D_viewer_reference", &tarnwick::depthview::to_3d_viewer_reference,
        nb::arg("component"), nb::arg("output").none() = m.attr("Output").attr("LAYER"),
        nb::arg("layer_views").none() = nb::none(), nb::arg("layer_stack").none() = nb::none(),
        nb::arg("z_scale") = 1.0, nb::arg("curve_tolerance").none() = 0.01,
        nb::arg("exclude_layers").none() = nb::none(), nb::kw_only(), nb::arg("as_dict") = false,
        "to_3D_viewer through the Python-object path throughout (the native pool's reference).");
  m.def("depthview", &tarnwick::depthview::depthview, nb::arg("component"),
        nb::arg("output").none(), nb::arg("z_scale") = 1.0,
        nb::arg("curve_tolerance").none() = 0.01, nb::arg("exclude_layers").none() = nb::none(),
        "Shows a component or GDS file in the 3D viewer: sends one DepthviewMessage.");
  m.def("_depthview_reference", &tarnwick::depthview::depthview_reference, nb::arg("component"),
        nb::arg("output").none(), nb::arg("z_scale") = 1.0,
        nb::arg("curve_tolerance").none() = 0.01, nb::arg("exclude_layers").none() = nb::none(),
        "depthview through the Python-object path throughout (the native path's reference).");
  m.def("_depthview_timed", &tarnwick::depthview::depthview_timed, nb::arg("component"),
        nb::arg("output").none(), nb::arg("z_scale") = 1.0,
        nb::arg("curve_tolerance").none() = 0.01, nb::arg("exclude_layers").none() = nb::none(),
        nb::arg("progress").none() = nb::none(), nb::arg("native") = true,
        "depthview that also returns the seconds of each stage, the scene's counts and the path "
        "that wrote the message.");
  m.def("_scene_message", &tarnwick::depthview::scene_message, nb::arg("layout"),
        nb::arg("layers"), nb::arg("output").none(), nb::arg("z_scale") = 1.0,
        nb::arg("curve_tolerance").none() = 0.01, nb::arg("exclude_layers").none() = nb::none(),
        nb::arg("native") = true,
        "(content, path): the message content depthview sends for a KLayout layout's scene and "
        "the path that wrote it.");
  m.def("_simplify", &tarnwick::depthview::simplify_once, nb::arg("points"),
        nb::arg("tolerance"), nb::arg("shortcut") = true,
        "The closed exterior ring of the topology-preserving simplification of a polygon shell; "
        "`shortcut` false sends every ring through GEOS.");
  m.def("_scene_json", &tarnwick::depthview::scene_json, nb::arg("value").none(),
        "The native writer's JSON text of a scene value (as asdict, numpy_to_buffer_json and the "
        "compact host writer make it), or None where it leaves the value to that path.");
  // --- end
}
