#pragma once
// Reference combination: one reference per distinct cell among siblings, carrying every placement
// of that cell in the frame of its top cell. No Python in here.
//
// Siblings are grouped by cell in the order in which each cell is first seen; the first reference
// of a group stands for the group. At the first level (children of a top cell) the group's
// placements are its members' own placements, one after the other; deeper, each member's
// placements are composed with every placement of the (already combined) parent: for each own
// placement (outer), each parent placement (inner), parent after own. The children of a group are
// the first member's references (every member places the same cell), combined the same way.
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

#include "tarnwick/core/depthview/model/placement.hpp"
#include "tarnwick/core/depthview/transform/tree_view.hpp"

namespace tarnwick::depthview::transform {

template <class View>
struct CombinedTree {
  struct Node {
    typename View::Node source;                // the top cell, or the first member of the group
    std::vector<typename View::Node> members;  // the group's references in order (none for tops)
    std::vector<model::Placement> placements;  // in the top cell's frame (none for tops)
    std::size_t first_child = 0;               // children: nodes[first_child, +child_count)
    std::size_t child_count = 0;
    std::size_t depth = 0;  // 0 for the tops
  };
  std::vector<Node> nodes;  // the tops first, in order; every node's children are contiguous
  std::size_t top_count = 0;

  std::span<const Node> children(const Node& node) const {
    return {nodes.data() + node.first_child, node.child_count};
  }
};

template <class View>
CombinedTree<View> combine(View& view, std::span<const typename View::Node> tops) {
  using Tree = CombinedTree<View>;
  Tree tree;
  tree.top_count = tops.size();
  for (const auto& top : tops) tree.nodes.push_back({top, {}, {}, 0, 0, 0});
  std::unordered_map<std::int64_t, std::size_t> group_of;
  std::vector<model::Placement> own;
  // Nodes are combined in the order they were made: a parent always before its children.
  for (std::size_t at = 0; at < tree.nodes.size(); ++at) {
    const auto source = tree.nodes[at].source;
    const std::size_t count = view.child_count(source);
    if (count == 0) continue;
    const std::size_t depth = tree.nodes[at].depth + 1;
    if (depth > view.seen() + 1) throw RecursiveTree();
    // Group the children, in first-seen order.
    group_of.clear();
    const std::size_t first = tree.nodes.size();
    for (std::size_t i = 0; i < count; ++i) {
      auto child = view.child(source, i);
      auto [found, fresh] = group_of.try_emplace(view.group_key(child), tree.nodes.size());
      if (fresh) tree.nodes.push_back({child, {}, {}, 0, 0, depth});
      tree.nodes[found->second].members.push_back(child);
    }
    tree.nodes[at].first_child = first;
    tree.nodes[at].child_count = tree.nodes.size() - first;
    // No node is added below this point until the next parent, so references stay valid.
    const auto& parent = tree.nodes[at].placements;
    for (std::size_t g = first; g < tree.nodes.size(); ++g) {
      auto& group = tree.nodes[g];
      for (const auto& member : group.members) {
        own.clear();
        view.placements(member, own);
        if (depth == 1) {
          group.placements.insert(group.placements.end(), own.begin(), own.end());
        } else {
          model::multiply(parent, own, group.placements);
        }
      }
    }
  }
  return tree;
}

}  // namespace tarnwick::depthview::transform
