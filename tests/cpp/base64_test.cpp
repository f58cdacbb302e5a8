#include "tarnwick/core/depthview/write/base64.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace base64 = tarnwick::depthview::write::base64;

namespace {
// A bit-by-bit encoder written straight from the definition, to compare the table encoder with.
std::string reference_encode(const std::vector<unsigned char>& bytes) {
  std::string out;
  std::size_t bits = 0;
  std::uint32_t buffer = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      out += base64::kAlphabet[(buffer >> bits) & 63];
    }
  }
  if (bits > 0) out += base64::kAlphabet[(buffer << (6 - bits)) & 63];
  while (out.size() % 4 != 0) out += '=';
  return out;
}
}  // namespace

TEST(Base64, Rfc4648Vectors) {
  EXPECT_EQ(base64::encode(""), "");
  EXPECT_EQ(base64::encode("f"), "Zg==");
  EXPECT_EQ(base64::encode("fo"), "Zm8=");
  EXPECT_EQ(base64::encode("foo"), "Zm9v");
  EXPECT_EQ(base64::encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64::encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64::encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, FloatBytes) {
  // 1.0f and 2.0f in little-endian order.
  const unsigned char bytes[] = {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40};
  EXPECT_EQ(base64::encode(bytes, sizeof bytes), "AACAPwAAAEA=");
}

TEST(Base64, EveryByteValueAndBothAlphabetEnds) {
  std::vector<unsigned char> bytes(256);
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
  const std::string text = base64::encode(bytes.data(), bytes.size());
  EXPECT_EQ(text, reference_encode(bytes));
  EXPECT_NE(text.find('+'), std::string::npos);
  EXPECT_NE(text.find('/'), std::string::npos);
  EXPECT_EQ(base64::encode("\xff\xff\xff"), "////");
  EXPECT_EQ(base64::encode("\xfb\xef\xbe"), "++++");
}

TEST(Base64, MatchesReferenceForEveryLengthUpTo100) {
  std::mt19937 random(7);
  for (std::size_t size = 0; size <= 100; ++size) {
    for (int round = 0; round < 20; ++round) {
      std::vector<unsigned char> bytes(size);
      for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
      const std::string text = base64::encode(bytes.data(), bytes.size());
      ASSERT_EQ(text.size(), base64::encoded_size(size));
      ASSERT_EQ(text, reference_encode(bytes)) << "size " << size;
    }
  }
}

TEST(Base64, WritesExactlyEncodedSizeCharacters) {
  const std::string input = "abcdefgh";
  std::string out(base64::encoded_size(input.size()) + 4, '#');
  const std::size_t written = base64::encode(input.data(), input.size(), out.data());
  EXPECT_EQ(written, base64::encoded_size(input.size()));
  EXPECT_EQ(out.substr(written), "####");
  EXPECT_EQ(out.substr(0, written), "YWJjZGVmZ2g=");
}
