#include "tarnwick/support/text.hpp"

#include <gtest/gtest.h>

using tarnwick::support::text::ends_with;
using tarnwick::support::text::last_path_component;

TEST(Text, LastPathComponent) {
  EXPECT_EQ(last_path_component("/a/b/cells.py"), "cells.py");
  EXPECT_EQ(last_path_component("cells.py"), "cells.py");
  EXPECT_EQ(last_path_component("/a/b/"), "");
}

TEST(Text, EndsWith) {
  EXPECT_TRUE(ends_with("demo_picyml", "_picyml"));
  EXPECT_FALSE(ends_with("picyml", "_picyml"));
  EXPECT_TRUE(ends_with("x", ""));
}
