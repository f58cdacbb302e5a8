// Python binding of tarnwick.core.depthview: declares the module's classes, functions, defaults
// and signatures, and forwards to the scene code.
#include <nanobind/nanobind.h>

#include "tarnwick/core/depthview/entry.hpp"
#include "tarnwick/core/depthview/gltf_entry.hpp"
#include "tarnwick/core/depthview/model/grouping.hpp"
#include "tarnwick/core/depthview/python/asdict.hpp"
#include "tarnwick/core/depthview/python/buffers.hpp"
#include "tarnwick/core/depthview/python/errors.hpp"
#include "tarnwick/core/depthview/python/ktrans.hpp"
#include "tarnwick/core/depthview/python/layer_properties.hpp"
#include "tarnwick/core/depthview/python/parse_gds.hpp"
#include "tarnwick/core/depthview/python/record_operations.hpp"
#include "tarnwick/core/depthview/python/records.hpp"
#include "tarnwick/host/services.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using tarnwick::depthview::model::Grouping;
using tarnwick::depthview::python::KTrans;
using tarnwick::depthview::python::ParseGDS;

namespace {

PyType_Slot ktrans_slots[] = {
    {Py_tp_traverse, (void*)KTrans::traverse}, {Py_tp_clear, (void*)KTrans::clear}, {0, nullptr}};
PyType_Slot parser_slots[] = {{Py_tp_traverse, (void*)ParseGDS::traverse},
                              {Py_tp_clear, (void*)ParseGDS::clear},
                              {0, nullptr}};

void declare_ktrans(nb::module_& m) {
  namespace py = tarnwick::depthview::python;
  nb::class_<KTrans>(m, "KTrans",
                     "One placement: a wrapped KLayout transformation, simple (Trans, DTrans) or "
                     "complex (ICplxTrans, DCplxTrans).",
                     nb::type_slots(ktrans_slots))
      .def(nb::init<nb::handle>(), "trans"_a.none())
      .def_prop_ro("trans", &KTrans::trans, "The wrapped KLayout transformation.")
      .def("to_dict", &KTrans::to_dict,
           "{'mirror', 'angle', 'displacement'} of the wrapped transformation, unscaled, and "
           "'magnification' for a complex one.")
      .def(
          "trans_matrix", [](nb::handle self) { return py::trans_matrix(self); },
          "The 2x3 affine matrix ((c*r, -m*s*r, x), (s*r, m*c*r, y)) computed from to_dict().")
      .def(
          "__eq__",
          [](KTrans& self, nb::handle other) -> nb::object {
            KTrans* k = py::as_ktrans(other);
            if (k == nullptr) return nb::borrow(Py_NotImplemented);
            return nb::bool_(self.equal(*k));
          },
          "other"_a.none())
      .def("__hash__", &KTrans::hash)
      .def("__repr__", &KTrans::repr)
      .def_static("multiply", &KTrans::multiply, "parent_trans"_a.none(), "trans"_a.none(),
                  "Placements composed parent after child: with one side None the other as a "
                  "list (a list itself), else for each child transform (outer) and each parent "
                  "transform (inner) a new KTrans of their product.");
}

void declare_parser(nb::module_& m) {
  namespace py = tarnwick::depthview::python;
  nb::class_<ParseGDS>(m, "ParseGDS",
                       "The layout parser: a KLayout layout into scene records, every distinct "
                       "polygon once in a shared pool.",
                       nb::type_slots(parser_slots))
      .def(nb::init<nb::handle, nb::object, double, nb::object, nb::object>(), "layout"_a.none(),
           "layers"_a.none(), "z_scale"_a = 1.0, "curve_tolerance"_a.none() = 0.01,
           "exclude_layers"_a.none() = nb::none())
      .def_rw("layout", &ParseGDS::layout)
      .def_rw("layers", &ParseGDS::layers)
      .def_rw("z_scale", &ParseGDS::z_scale)
      .def_rw("curve_tolerance", &ParseGDS::curve_tolerance, nb::arg("value").none())
      .def_rw("exclude_layers", &ParseGDS::exclude_layers)
      .def_rw("instances", &ParseGDS::instances)
      .def_prop_ro("instance_index", &ParseGDS::instance_index)
      .def_prop_ro("instance_mapping", &ParseGDS::instance_mapping,
                   "{(cell index, layer index, shape position): pool index}, a copy.")
      .def_rw("parsed_cells", &ParseGDS::parsed_cells, nb::arg("value").none())
      .def_rw("parsed_layers", &ParseGDS::parsed_layers, nb::arg("value").none())
      .def_rw("cell_combined", &ParseGDS::cell_combined)
      .def_rw("layer_combined", &ParseGDS::layer_combined)
      .def_rw("layer_map", &ParseGDS::layer_map)
      .def_rw("reverse_layer_map", &ParseGDS::reverse_layer_map)
      .def_rw("cell_index_map", &ParseGDS::cell_index_map)
      .def("get_name", &ParseGDS::get_name, "layer_spec"_a.none())
      .def("get_zmin", &ParseGDS::get_zmin, "layer_spec"_a.none())
      .def("get_height", &ParseGDS::get_height, "layer_spec"_a.none())
      .def("get_color", &ParseGDS::get_color, "layer_spec"_a.none())
      .def("extract_layers", &ParseGDS::extract_layers)
      .def("extract_dpolygon", &ParseGDS::extract_dpolygon, "polygon"_a.none())
      .def("parse_cells", &ParseGDS::parse_cells, "cell"_a)
      .def("export_cells", &ParseGDS::export_cells, nb::kw_only(), "combine"_a = true)
      .def("export_layers", &py::export_layers, nb::kw_only(), "combine"_a = true)
      .def("combine_references", &py::combine_references, "output"_a.none())
      .def("to_viewer", &py::to_viewer, "output"_a.none())
      .def(
          "asdict", [](ParseGDS&, nb::handle obj) { return py::asdict(obj); }, "obj"_a.none())
      .def(
          "create_json", [](ParseGDS&, nb::handle data) { return py::create_json(data); },
          "data"_a.none());
}

}  // namespace

NB_MODULE(depthview, m) {
  namespace dv = tarnwick::depthview;
  m.doc() = "3D scene conversion: a layout component or GDS file to one 3D viewer message.";
  tarnwick::host::bind_services();
  dv::python::register_error_translation();
  // The public names (the stub's too; a test holds the two together).
  m.attr("__all__") =
      nb::str(
          "FORMAT VERSION Output Cell Reference ParsedCells ParsedLayers PdkLayer PartBase "
          "Shape Part Parts ViewerData KTrans ParseGDS numpy_to_buffer_json "
          "get_layer_properties to_3D_viewer depthview export_gltf scene_content "
          "viewer_message")
          .attr("split")();
  m.attr("FORMAT") = "GDS";
  m.attr("VERSION") = "3";

  nb::enum_<Grouping>(m, "Output", "How the scene is grouped: by cell hierarchy or by layer.")
      .value("CELL", Grouping::CELL)
      .value("LAYER", Grouping::LAYER);
  dv::python::declare_records(m);
  declare_ktrans(m);
  declare_parser(m);

  m.def("numpy_to_buffer_json", &dv::python::numpy_to_buffer_json, "value"_a.none(),
        "The map form of a scene with every numeric array replaced by a base64 buffer record.");
  m.def("get_layer_properties", &dv::python::get_layer_properties, "layer_stack"_a, "layer_views"_a,
        "Map from (layer, datatype) to PdkLayer from a LayerStack and its "
        "LayerViews.");
  // The entry points take Output.LAYER as default, so they are declared after the enumeration.
  m.def("to_3D_viewer", &dv::to_3d_viewer, "component"_a,
        "output"_a.none() = m.attr("Output").attr("LAYER"), "layer_views"_a.none() = nb::none(),
        "layer_stack"_a.none() = nb::none(), "z_scale"_a = 1.0, "curve_tolerance"_a.none() = 0.01,
        "exclude_layers"_a.none() = nb::none(), nb::kw_only(), "as_dict"_a = false,
        "The 3D viewer scene of a component or GDS file: a ViewerData, or its map form.");
  m.def("depthview", &dv::depthview, "component"_a, "output"_a.none(), "z_scale"_a = 1.0,
        "curve_tolerance"_a.none() = 0.01, "exclude_layers"_a.none() = nb::none(), nb::kw_only(),
        "report"_a.none() = nb::none(), "technology"_a.none() = nb::none(),
        "cell"_a.none() = nb::none(),
        "Shows a component or GDS file in the 3D viewer: sends one DepthviewMessage. `report`, "
        "when given, is called with {'stage': name} as each stage starts and at the end with the "
        "stages' seconds, the scene's counts, the layout reader used and the layers left undrawn. "
        "`technology` (a name, a technology file, a tarnwick.technology.Technology or a "
        "(LayerStack, LayerViews) pair) replaces the active PDK's layer stack and views. A file "
        "draws every top cell, or the one named by `cell` with the hierarchy below it.");
  m.def("export_gltf", &dv::export_gltf, "component"_a, "path"_a,
        "output"_a.none() = m.attr("Output").attr("LAYER"), "layer_views"_a.none() = nb::none(),
        "layer_stack"_a.none() = nb::none(), "z_scale"_a = 1.0, "curve_tolerance"_a.none() = 0.01,
        "exclude_layers"_a.none() = nb::none(), nb::kw_only(), "binary"_a.none() = nb::none(),
        "instancing"_a = true, "metres_per_micrometre"_a = 1e-6, "report"_a.none() = nb::none(),
        "cell"_a.none() = nb::none(),
        "Writes the 3D scene of a component or GDS file as a glTF 2.0 file (.glb binary, .gltf "
        "text): one mesh per distinct polygon list, repeated placements through "
        "EXT_mesh_gpu_instancing (or plain nodes with instancing=False), one material per layer, "
        "metres with y up. Returns the file's bytes, meshes, triangles and placements.");
  m.def("scene_content", &dv::scene_content, "component"_a,
        "output"_a.none() = m.attr("Output").attr("LAYER"), "layer_views"_a.none() = nb::none(),
        "layer_stack"_a.none() = nb::none(), "z_scale"_a = 1.0, "curve_tolerance"_a.none() = 0.01,
        "exclude_layers"_a.none() = nb::none(), nb::kw_only(), "report"_a.none() = nb::none(),
        "cell"_a.none() = nb::none(),
        "The viewer message content (JSON text) that depthview would send for a component or GDS "
        "file, returned instead of sent.");
  m.def("viewer_message", &dv::viewer_message, "layout"_a, "layers"_a,
        "output"_a.none() = m.attr("Output").attr("LAYER"), "z_scale"_a = 1.0,
        "curve_tolerance"_a.none() = 0.01, "exclude_layers"_a.none() = nb::none(), nb::kw_only(),
        "report"_a.none() = nb::none(),
        "The viewer message content (JSON text) that depthview sends, for a KLayout layout already "
        "read and its layer properties {(layer, datatype): PdkLayer}.");
}
