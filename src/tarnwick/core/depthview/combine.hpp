#pragma once
// Reference combination: after parsing, every instance is its own Reference with placements
// relative to its parent. Combining rewrites a parsed tree in place so that each cell appears once
// among its siblings and carries all its placements in the frame of the top cell.
#include <nanobind/nanobind.h>

namespace tarnwick::depthview {

namespace nb = nanobind;

class Parser;

// For Output.CELL combines parsed_cells, for Output.LAYER every tree of parsed_layers, sets the
// mode's combined flag and returns the combined result (the same record, changed in place); for
// any other value changes nothing and returns None. Assertion error without message when the
// mode's result is absent. Top cells keep their own fields; only their `references` lists are
// replaced (new lists, never changed in place, so trees that share records' lists with this one
// stay intact).
nb::object combine_references(Parser& parser, nb::handle output);

// The combined form of one list of sibling references: grouped by cell_index in first-seen order,
// the first reference of each group standing for the group with the placements of all its
// members, each composed with every parent placement (child placement outer, parent inner);
// children are combined with the group's placements as their parents'. `parent_trans` is None or
// a list of KTrans.
nb::object combine_siblings(nb::handle references, nb::handle parent_trans);

}  // namespace tarnwick::depthview
