#include "tarnwick/core/build/file_names.hpp"

#include <gtest/gtest.h>

#include <string>

using tarnwick::build::is_safe_file_stem;

TEST(FileNames, OrdinaryFactoryNamesAreSafe) {
  EXPECT_TRUE(is_safe_file_stem("straight"));
  EXPECT_TRUE(is_safe_file_stem("ring_r10.5"));
  EXPECT_TRUE(is_safe_file_stem("...x"));
}

TEST(FileNames, NamesThatLeaveOrLackTheDirectoryAreUnsafe) {
  EXPECT_FALSE(is_safe_file_stem(""));
  EXPECT_FALSE(is_safe_file_stem("."));
  EXPECT_FALSE(is_safe_file_stem(".."));
  EXPECT_FALSE(is_safe_file_stem("../escape"));
  EXPECT_FALSE(is_safe_file_stem("a/b"));
  EXPECT_FALSE(is_safe_file_stem(std::string("a\0b", 3)));
}
