#include "tarnwick/core/build/gds_file.hpp"

#include <gtest/gtest.h>

#include <string>

using tarnwick::build::gds_incompleteness;

namespace {
// One GDS record: length (header included), record type, data type, payload.
std::string record(unsigned char type, std::string payload = {}) {
  const std::size_t length = payload.size() + 4;
  return std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xff),
                     static_cast<char>(type), '\0'} +
         payload;
}
const std::string kComplete =
    record(0x00, "\x02\x58") + record(0x01, std::string(24, '\1')) + record(0x04);
}  // namespace

TEST(GdsFile, ACompleteStreamWithOrWithoutPadding) {
  EXPECT_EQ(gds_incompleteness(kComplete), std::nullopt);
  EXPECT_EQ(gds_incompleteness(kComplete + std::string(2048, '\0')), std::nullopt);
}

TEST(GdsFile, StreamsCutShortOrBroken) {
  EXPECT_EQ(gds_incompleteness(""), "it is empty");
  EXPECT_EQ(gds_incompleteness(kComplete.substr(0, kComplete.size() - 4)),
            "it ends after " + std::to_string(kComplete.size() - 4) +
                " bytes without its end-of-library record");
  for (std::size_t cut : {std::size_t{1}, std::size_t{5}, kComplete.size() - 1}) {
    EXPECT_EQ(gds_incompleteness(kComplete.substr(0, cut)),
              "it ends inside a record after " + std::to_string(cut) + " bytes");
  }
  EXPECT_EQ(gds_incompleteness(kComplete + "x"), "it holds data after its end-of-library record");
  EXPECT_EQ(gds_incompleteness(record(0x01) + record(0x04)), "it holds no valid record at byte 0");
  EXPECT_EQ(gds_incompleteness(std::string(4096, '\0')), "it holds no valid record at byte 0");
}
