// bench_layout_readers: a whole layout walked through one of the scene's layout readers, for the
// benchmark of the readers (and its check that both give the same answers).
//
//   walk(layout, reader) -> dict     every call of the interface once per cell (and layer), timed
//   answers(layout, reader) -> list  every answer, as plain Python values
//
// `reader` is "python-api" or "direct"; the direct reader comes through the scene's own way to it
// (read/direct_reader.hpp), so a missing or refused module is reported as the scene reports it.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <chrono>
#include <memory>
#include <string>

#include "tarnwick/core/depthview/read/direct_reader.hpp"
#include "tarnwick/core/depthview/read/python_api_reader.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/services.hpp"

namespace nb = nanobind;
using namespace tarnwick::depthview;

namespace {

std::unique_ptr<read::LayoutReader> open(nb::handle layout, const std::string& reader) {
  if (reader == "python-api") return std::make_unique<read::PythonApiReader>(layout);
  if (reader != "direct") {
    tarnwick::host::raise(PyExc_ValueError, "reader must be 'python-api' or 'direct'");
  }
  std::string why_not;
  std::unique_ptr<read::LayoutReader> direct = read::open_direct_reader(layout, why_not);
  if (!direct) tarnwick::host::raise(PyExc_RuntimeError, "no direct reader: " + why_not);
  return direct;
}

nb::dict walk(nb::handle layout, const std::string& reader_name) {
  std::unique_ptr<read::LayoutReader> reader = open(layout, reader_name);
  const auto start = std::chrono::steady_clock::now();
  std::uint64_t shapes = 0, points = 0, instances = 0, placements = 0;
  read::ShapeBatch batch;
  std::vector<read::CellInstance> infos;
  const std::vector<read::LayerInfo> layers = reader->layers();
  reader->top_cells();
  for (std::int64_t cell : reader->cells()) {
    reader->cell_name(cell);
    for (const read::LayerInfo& layer : layers) {
      reader->shapes(cell, layer.index, batch);
      shapes += batch.kinds.size();
      points += batch.coordinates.size() / 2;
    }
    reader->cell_instances(cell, infos);
    instances += infos.size();
    for (const read::CellInstance& info : infos) placements += info.placements.count();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  nb::dict result;
  result["reader"] = reader->description();
  result["seconds"] = seconds;
  result["shapes"] = shapes;
  result["points"] = points;
  result["instances"] = instances;
  result["placements"] = placements;
  return result;
}

nb::tuple placement_values(const model::Placement& p) {
  return nb::make_tuple(p.sin, p.cos, p.mag, p.dx, p.dy, p.complex, p.floating);
}

nb::list answers(nb::handle layout, const std::string& reader_name) {
  std::unique_ptr<read::LayoutReader> reader = open(layout, reader_name);
  nb::list out;
  out.append(reader->dbu());
  nb::list layers;
  for (const read::LayerInfo& l : reader->layers())
    layers.append(nb::make_tuple(l.index, l.layer, l.datatype));
  out.append(layers);
  nb::list tops;
  for (std::int64_t cell : reader->top_cells()) tops.append(cell);
  out.append(tops);
  read::ShapeBatch batch;
  std::vector<read::CellInstance> infos;
  for (std::int64_t cell : reader->cells()) {
    nb::list entry;
    entry.append(cell);
    entry.append(reader->cell_name(cell));
    for (const read::LayerInfo& l : reader->layers()) {
      reader->shapes(cell, l.index, batch);
      nb::list kinds, sizes, coordinates;
      for (auto k : batch.kinds) kinds.append(static_cast<int>(k));
      for (auto s : batch.hull_sizes) sizes.append(s);
      for (auto c : batch.coordinates) coordinates.append(c);
      entry.append(nb::make_tuple(l.index, kinds, sizes, coordinates, batch.first_other));
    }
    reader->cell_instances(cell, infos);
    for (const read::CellInstance& info : infos) {
      const model::CellInstancePlacements& p = info.placements;
      nb::list listed;
      for (const model::Placement& e : p.explicit_list) listed.append(placement_values(e));
      entry.append(nb::make_tuple(info.target, placement_values(p.base), p.na, p.nb, p.ax, p.ay,
                                  p.bx, p.by, listed));
    }
    out.append(entry);
  }
  return out;
}

}  // namespace

NB_MODULE(bench_layout_readers, m) {
  tarnwick::host::bind_services();
  m.def("walk", &walk, nb::arg("layout"), nb::arg("reader"));
  m.def("answers", &answers, nb::arg("layout"), nb::arg("reader"));
}
