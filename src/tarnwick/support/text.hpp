#pragma once
// Small text helpers shared by the modules. Pure C++: no Python in here.
#include <string>
#include <string_view>

namespace tarnwick::support::text {

// The last component of a path, split at "/" (what os.path.basename gives on POSIX).
inline std::string_view last_path_component(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

inline bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace tarnwick::support::text
