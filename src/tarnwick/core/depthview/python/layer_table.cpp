#include "tarnwick/core/depthview/python/layer_table.hpp"

#include <nanobind/stl/string.h>

#include <exception>
#include <new>

#include "tarnwick/host/checked.hpp"
#include "tarnwick/host/errors.hpp"
#include "tarnwick/host/json.hpp"
#include "tarnwick/host/services.hpp"

namespace tarnwick::depthview::python {

namespace {

using host::as_double;
using host::checked;
using host::contains;

// The entry of `key` in the map `map`, or null (a missing key is no error here).
nb::object lookup(nb::handle map, nb::handle key) {
  PyObject* found = PyObject_GetItem(map.ptr(), key.ptr());
  if (found != nullptr) return nb::steal(found);
  if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw nb::python_error();
  PyErr_Clear();
  return {};
}

// A layer name (a str) as UTF-8. A text without that form (lone surrogates) fails exactly as the
// JSON writer fails on it.
std::string utf8_for_json(nb::handle text) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size)) {
    return {data, static_cast<std::size_t>(size)};
  }
  PyErr_Clear();
  host::json::dumps_bytes(text, host::json::Style::compact);  // raises the writer's own error
  host::raise(PyExc_TypeError, "a layer name has no UTF-8 form");
}

// The index under which a reverse map keeps `spec`; one that matches no layer when it lacks it.
constexpr std::int64_t kNoLayer = INT64_MIN;

}  // namespace

nb::object layer_name(nb::handle layers, nb::handle spec) {
  if (contains(layers, spec)) {
    nb::object layer = layers[spec];
    nb::object name = layer.attr("name");  // read first: a missing name raises its own error
    return nb::str("{} {}").format(name, spec);
  }
  return nb::str(spec);
}

double layer_zmin(nb::handle layers, double z_scale, nb::handle spec) {
  if (contains(layers, spec)) return z_scale * as_double(layers[spec].attr("zmin"));
  return -z_scale;
}

double layer_height(nb::handle layers, double z_scale, nb::handle spec) {
  if (contains(layers, spec)) return z_scale * as_double(layers[spec].attr("thickness"));
  return z_scale * 0.05;
}

nb::object layer_color(nb::handle layers, nb::handle spec) {
  if (contains(layers, spec)) return layers[spec].attr("color");
  return nb::str("#000000");
}

std::pair<nb::dict, nb::dict> layer_maps(const std::vector<read::LayerInfo>& layout_layers,
                                         nb::handle layers) {
  nb::dict map;
  for (const read::LayerInfo& info : layout_layers) {
    nb::tuple spec = nb::make_tuple(info.layer, info.datatype);
    if (contains(layers, spec)) map[nb::int_(info.index)] = spec;
  }
  nb::dict reverse;
  for (auto [index, spec] : map) reverse[spec] = index;  // a later index wins
  return {map, reverse};
}

bool excluded(nb::handle patterns, nb::handle layer_name) {
  nb::object name = nb::str(layer_name).attr("lower")();
  for (nb::handle pattern : patterns) {
    nb::object lowered = nb::str(pattern).attr("lower")();
    if (host::truthy(host::fnmatch_fnmatchcase.get()(name, lowered))) return true;
  }
  return false;
}

LayerTable::LayerTable(nb::handle layers, double z_scale, nb::handle exclude_layers,
                       nb::handle layer_map, nb::handle reverse_layer_map)
    : layers_(nb::borrow(layers)),
      exclude_layers_(nb::borrow(exclude_layers)),
      layer_map_(nb::borrow(layer_map)),
      reverse_layer_map_(nb::borrow(reverse_layer_map)),
      z_scale_(z_scale) {}

namespace {

// What a layer shows, looked up in this order: its name, whether it is excluded, then (not
// excluded) its height, bottom, colour and the index under which by-layer trees hold its polygons.
struct LookedUp {
  LayerTable::Values values;
  bool excluded = false;
  double height = 0.0, zmin = 0.0;
  std::int64_t polygons_index = 0;
};

LookedUp look_up(nb::handle layers, double z_scale, nb::handle exclude_layers,
                 nb::handle reverse_layer_map, nb::handle found) {
  // The map's value as a tuple: a layer key of the PDK properties.
  nb::object spec = checked(PySequence_Tuple(found.ptr()));
  LookedUp result;
  result.values.name = layer_name(layers, spec);
  result.excluded = excluded(exclude_layers, result.values.name);
  if (result.excluded) return result;
  result.height = layer_height(layers, z_scale, spec);
  result.zmin = layer_zmin(layers, z_scale, spec);
  result.values.height = nb::float_(result.height);
  result.values.color = layer_color(layers, spec);
  result.values.loc = nb::make_tuple(nb::make_tuple(0, 0, result.zmin), nb::make_tuple(0, 0, 0, 1));
  // By layer, a cell keeps this layer's polygons under the index that the reverse map gives.
  nb::object reverse = lookup(reverse_layer_map, spec);
  result.polygons_index = reverse.is_valid() ? host::as_int64(reverse) : kNoLayer;
  return result;
}

// Runs `work`; an error it raises is kept and returned rather than raised, except interrupts and
// other exits (Python exceptions that are no Exception) and running out of memory.
template <class Work>
std::exception_ptr kept_error(Work&& work) {
  try {
    work();
    return nullptr;
  } catch (nb::python_error& error) {
    if (!error.matches(PyExc_Exception)) throw;
    return std::current_exception();
  } catch (const std::bad_alloc&) {
    throw;
  } catch (...) {
    return std::current_exception();
  }
}

}  // namespace

std::vector<write::SceneLayer> scene_layers(nb::handle layers, double z_scale,
                                            nb::handle exclude_layers, nb::handle layer_map,
                                            nb::handle reverse_layer_map) {
  std::vector<write::SceneLayer> result;
  for (auto [index, found] : nb::borrow<nb::dict>(layer_map)) {
    write::SceneLayer& layer = result.emplace_back();
    layer.index = host::as_int64(index);
    LookedUp looked;
    layer.lookup_error = kept_error(
        [&] { looked = look_up(layers, z_scale, exclude_layers, reverse_layer_map, found); });
    if (layer.lookup_error) continue;
    layer.name_length = static_cast<std::uint64_t>(PyUnicode_GET_LENGTH(looked.values.name.ptr()));
    layer.excluded = looked.excluded;
    if (layer.excluded) continue;
    layer.height = looked.height;
    layer.zmin = looked.zmin;
    layer.polygons_index = looked.polygons_index;
    layer.message_error = kept_error([&] {
      layer.name = utf8_for_json(looked.values.name);
      nb::bytes color = host::json::dumps_bytes(looked.values.color, host::json::Style::compact);
      layer.color_json.assign(color.c_str(), color.size());
    });
  }
  return result;
}

const write::LayerEntry* LayerTable::find(std::int64_t index) {
  if (auto known = by_index_.find(index); known != by_index_.end()) return known->second;
  nb::object found = lookup(layer_map_, nb::int_(index));
  if (!found.is_valid()) {
    by_index_[index] = nullptr;
    return nullptr;
  }
  LookedUp looked = look_up(layers_, z_scale_, exclude_layers_, reverse_layer_map_, found);
  write::LayerEntry entry;
  entry.slot = static_cast<std::uint32_t>(entries_.size());
  entry.index = index;
  entry.excluded = looked.excluded;
  entry.polygons_index = looked.polygons_index;
  heights_.push_back(looked.height);
  zmins_.push_back(looked.zmin);
  entries_.push_back(entry);
  values_.push_back(std::move(looked.values));
  by_index_[index] = &entries_.back();
  return &entries_.back();
}

std::vector<write::LayerValues> LayerTable::message_values() const {
  std::vector<write::LayerValues> result(entries_.size());
  for (std::size_t slot = 0; slot < entries_.size(); ++slot) {
    if (entries_[slot].excluded) continue;
    write::LayerValues& v = result[slot];
    v.name = utf8_for_json(values_[slot].name);
    nb::bytes color = host::json::dumps_bytes(values_[slot].color, host::json::Style::compact);
    v.color_json.assign(color.c_str(), color.size());
    v.height = heights_[slot];
    v.zmin = zmins_[slot];
  }
  return result;
}

}  // namespace tarnwick::depthview::python
