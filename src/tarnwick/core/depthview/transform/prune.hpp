#pragma once
// Layer extraction: the copy of a cell tree pruned to one layer. No Python in here.
//
// The copy of a node for layer L keeps the node's polygon list of L (when it has an entry for L,
// even an empty one) and, in order, the copies of its references that have content: an entry for
// L or a reference with content. The caller makes the copies: `make(node, has_entry, kept)` is
// called children first and returns the copy's handle; the copy has content when `has_entry` or
// `kept` is not empty.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tarnwick/core/depthview/transform/tree_view.hpp"

namespace tarnwick::depthview::transform {

// The copy of `root` for `layer`, and whether it has content. `Handle` is what `make` returns;
// `layer` is whatever key the view's polygons_on takes.
template <class Handle, class View, class Key, class Make>
std::pair<Handle, bool> prune(View& view, const typename View::Node& root, const Key& layer,
                              Make&& make) {
  struct Frame {
    typename View::Node node;
    std::size_t next = 0;
    std::vector<Handle> kept;
  };
  std::vector<Frame> stack;
  stack.push_back({root, 0, {}});
  while (true) {
    Frame& frame = stack.back();
    if (frame.next < view.child_count(frame.node)) {
      if (stack.size() > view.seen() + 1) throw RecursiveTree();
      auto child = view.child(frame.node, frame.next++);
      stack.push_back({child, 0, {}});
      continue;
    }
    const bool has_entry = view.polygons_on(frame.node, layer).has_value();
    const bool content = has_entry || !frame.kept.empty();
    Handle copy = make(frame.node, has_entry, std::move(frame.kept));
    stack.pop_back();
    if (stack.empty()) return {std::move(copy), content};
    if (content) stack.back().kept.push_back(std::move(copy));
  }
}

}  // namespace tarnwick::depthview::transform
