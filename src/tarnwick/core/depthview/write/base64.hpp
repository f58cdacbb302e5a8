#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks). Pure C++: no Python in here.
//
// The encoder looks up two output characters per 12 input bits in a 4096-entry table, so each
// three input bytes cost two loads and two stores; that runs at memory speed on one core.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tarnwick::depthview::write::base64 {

inline constexpr char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The encoded length of `size` bytes: four characters per started group of three bytes.
constexpr std::size_t encoded_size(std::size_t size) { return (size + 2) / 3 * 4; }

namespace detail {
// pairs[v] holds the two characters of the 12-bit value v, high six bits first.
struct PairTable {
  std::array<char, 2 * 4096> pairs{};
  constexpr PairTable() {
    for (std::size_t v = 0; v < 4096; ++v) {
      pairs[2 * v] = kAlphabet[v >> 6];
      pairs[2 * v + 1] = kAlphabet[v & 63];
    }
  }
};
inline constexpr PairTable kPairs{};
}  // namespace detail

// Writes the base64 text of `size` bytes at `data` to `out`, which must have room for
// encoded_size(size) characters. Writes no terminating zero. Returns the number of characters.
inline std::size_t encode(const void* data, std::size_t size, char* out) {
  const auto* in = static_cast<const unsigned char*>(data);
  const char* pairs = detail::kPairs.pairs.data();
  char* o = out;
  std::size_t i = 0;
  // Six bytes (two groups) per step: one 48-bit value, four table look-ups.
  for (; i + 6 <= size; i += 6) {
    const std::uint64_t v = (std::uint64_t{in[i]} << 40) | (std::uint64_t{in[i + 1]} << 32) |
                            (std::uint64_t{in[i + 2]} << 24) | (std::uint64_t{in[i + 3]} << 16) |
                            (std::uint64_t{in[i + 4]} << 8) | std::uint64_t{in[i + 5]};
    std::memcpy(o, pairs + 2 * ((v >> 36) & 0xfff), 2);
    std::memcpy(o + 2, pairs + 2 * ((v >> 24) & 0xfff), 2);
    std::memcpy(o + 4, pairs + 2 * ((v >> 12) & 0xfff), 2);
    std::memcpy(o + 6, pairs + 2 * (v & 0xfff), 2);
    o += 8;
  }
  if (i + 3 <= size) {
    const std::uint32_t v =
        (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | std::uint32_t{in[i + 2]};
    std::memcpy(o, pairs + 2 * (v >> 12), 2);
    std::memcpy(o + 2, pairs + 2 * (v & 0xfff), 2);
    o += 4;
    i += 3;
  }
  const std::size_t rest = size - i;
  if (rest == 1) {
    const std::uint32_t v = std::uint32_t{in[i]} << 16;
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = '=';
    o[3] = '=';
    o += 4;
  } else if (rest == 2) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8);
    o[0] = kAlphabet[v >> 18];
    o[1] = kAlphabet[(v >> 12) & 63];
    o[2] = kAlphabet[(v >> 6) & 63];
    o[3] = '=';
    o += 4;
  }
  return static_cast<std::size_t>(o - out);
}

// The base64 text of `size` bytes at `data`.
inline std::string encode(const void* data, std::size_t size) {
  std::string text(encoded_size(size), '\0');
  encode(data, size, text.data());
  return text;
}

inline std::string encode(std::string_view bytes) { return encode(bytes.data(), bytes.size()); }

}  // namespace tarnwick::depthview::write::base64
