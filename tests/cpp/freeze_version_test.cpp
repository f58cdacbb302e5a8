#include <gtest/gtest.h>

#include "tarnwick/core/freeze/version.hpp"

using tarnwick::freeze::split_version;
using tarnwick::freeze::VersionTexts;

namespace {
void expect_texts(std::string_view text, const char* major, const char* minor, const char* patch) {
  const VersionTexts texts = split_version(text);
  EXPECT_EQ(texts.major, major) << "version " << text;
  EXPECT_EQ(texts.minor, minor) << "version " << text;
  EXPECT_EQ(texts.patch, patch) << "version " << text;
}
}  // namespace

TEST(FreezeVersion, ThreeParts) {
  expect_texts("9.34.0", "9", "34", "0");
  expect_texts("9.33.9", "9", "33", "9");
}

TEST(FreezeVersion, PatchIsCutBeforePlusThenMinus) {
  expect_texts("9.34.1+g1a2b", "9", "34", "1");
  expect_texts("9.35.0-rc1", "9", "35", "0");
  expect_texts("9.35.2+local-build", "9", "35", "2");
  expect_texts("9.35.2-rc+x", "9", "35", "2");
  expect_texts("9.35.+x", "9", "35", "");
}

TEST(FreezeVersion, PlusAndMinusOnlyMatterInThePatch) {
  expect_texts("9-a.3+4.1", "9-a", "3+4", "1");
}

TEST(FreezeVersion, MissingPartsBecomeZero) {
  expect_texts("10.0", "10", "0", "0");
  expect_texts("10", "10", "0", "0");
}

TEST(FreezeVersion, PartsAfterTheThirdAreIgnored) {
  expect_texts("9.34.0.dev1", "9", "34", "0");
  expect_texts("1.2.3.4.5", "1", "2", "3");
}

TEST(FreezeVersion, TextsAreNotChecked) {
  expect_texts("9.34.0rc1", "9", "34", "0rc1");
  expect_texts("", "", "0", "0");
  expect_texts("..", "", "", "");
  expect_texts("a.b", "a", "b", "0");
}

TEST(FreezeVersion, MultiByteCharactersStayWhole) {
  // "\xd9\xa9" is ARABIC-INDIC DIGIT NINE in UTF-8.
  expect_texts("\xd9\xa9.1.2+\xc3\xa9", "\xd9\xa9", "1", "2");
}

TEST(FreezeVersion, EmbeddedNulIsKept) {
  using namespace std::string_view_literals;
  const VersionTexts texts = split_version("9\0.1"sv);
  EXPECT_EQ(texts.major, std::string("9\0", 2));
  EXPECT_EQ(texts.minor, "1");
}
