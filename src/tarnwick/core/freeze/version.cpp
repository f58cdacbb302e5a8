#include "tarnwick/core/freeze/version.hpp"

#include <vector>

namespace tarnwick::freeze {

namespace {
std::string_view cut_before(std::string_view text, char mark) {
  const auto position = text.find(mark);
  return position == std::string_view::npos ? text : text.substr(0, position);
}
}  // namespace

VersionTexts split_version(std::string_view text) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const auto dot = text.find('.', start);
    if (dot == std::string_view::npos) {
      parts.push_back(text.substr(start));
      break;
    }
    parts.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }

  VersionTexts texts;
  texts.major = parts[0];
  texts.minor = parts.size() >= 2 ? std::string(parts[1]) : std::string("0");
  texts.patch = parts.size() >= 3 ? std::string(cut_before(cut_before(parts[2], '+'), '-'))
                                  : std::string("0");
  return texts;
}

}  // namespace tarnwick::freeze
