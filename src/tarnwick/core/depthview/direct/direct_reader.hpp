#pragma once
// The layout reader that walks a KLayout layout through KLayout's own C++ classes.
//
// It answers every call exactly as the Python-API reader does (same orders, hull points, names,
// placements and texts) at a fraction of the cost: no Python object per shape or cell instance. It
// is made only by this module's factory, after the module checked that the KLayout libraries loaded
// are the very builds it was compiled against.
//
// The reader keeps the Python layout object alive and, at every call, checks that its C++ layout
// still exists (a script may destroy it explicitly). Calls need the GIL: KLayout updates the
// layout's caches on reading, and Python's error state is used for errors. Errors are raised as
// the Python-API reader raises them (Python exceptions of the same kinds and texts).
#include <Python.h>

#include "tarnwick/core/depthview/read/layout_reader.hpp"

namespace db {
class Layout;
}

namespace tarnwick::depthview::direct {

class DirectReader final : public read::LayoutReader {
 public:
  // `owner` is the klayout.db.Layout object (a new reference is kept), `layout_type` the
  // klayout.db.Layout class, `layout` the C++ layout behind `owner`.
  DirectReader(PyObject* owner, PyObject* layout_type, db::Layout* layout);
  ~DirectReader() override;
  DirectReader(const DirectReader&) = delete;
  DirectReader& operator=(const DirectReader&) = delete;

  double dbu() override;
  std::vector<read::LayerInfo> layers() override;
  std::vector<std::int64_t> cells() override;
  std::vector<std::int64_t> top_cells() override;
  std::string cell_name(std::int64_t cell) override;
  void shapes(std::int64_t cell, std::int64_t layer, read::ShapeBatch& batch) override;
  void cell_instances(std::int64_t cell, std::vector<read::CellInstance>& out) override;
  std::string description() const override { return "direct"; }

 private:
  // The layout, after checking that the owner's C++ layout is still the one this reader was made
  // for; RuntimeError otherwise.
  const db::Layout& layout();

  PyObject* owner_;
  PyObject* layout_type_;
  db::Layout* layout_;
};

}  // namespace tarnwick::depthview::direct
