#pragma once
// Reading the component library's version text. Pure C++: no Python in here.
#include <string>
#include <string_view>

namespace tarnwick::freeze {

// The three texts of a version text that are read as the major, minor and patch numbers.
struct VersionTexts {
  std::string major;
  std::string minor;
  std::string patch;
};

// Splits `text` at every "." into parts. major is the first part (always present: a text without
// "." is one part, the empty text one empty part); minor the second part, "0" when there is none;
// patch the third part cut before its first "+" and then before its first "-", "0" when there is
// none. Parts after the third are ignored. The texts are returned as they are, not checked: whether
// they read as integers is the caller's concern.
//
// Works on bytes: ".", "+" and "-" are ASCII, so splitting UTF-8 text never cuts a character.
VersionTexts split_version(std::string_view text);

}  // namespace tarnwick::freeze
