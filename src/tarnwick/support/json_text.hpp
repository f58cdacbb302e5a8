#pragma once
// JSON tokens written natively, exactly as the package's JSON writer (orjson) writes them: for
// writers that produce large JSON texts from native data without building Python values first.
// Pure C++: no Python in here. Tests compare whole texts against orjson.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tarnwick::support::json_text {

inline void append_integer(std::string& out, std::int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

inline void append_unsigned(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// A double as orjson writes it: the shortest text that reads back as the same double; plain
// decimal notation (with at least one digit after the point) for decimal exponents from -5 to 15,
// otherwise d[.ddd]e+X / d[.ddd]e-X; null for NaN and the infinities.
inline void append_float(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char text[32];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  // text: [-]d[.ddd]e(+|-)XX
  const std::string_view scientific(text, static_cast<std::size_t>(end - text));
  const std::size_t e = scientific.find('e');
  std::string_view mantissa = scientific.substr(0, e);
  int exponent = 0;
  const char* at = scientific.data() + e + 1;
  if (*at == '+') ++at;  // from_chars reads a minus sign only
  std::from_chars(at, scientific.data() + scientific.size(), exponent);
  if (!mantissa.empty() && mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;  // the significant digits, without the point
  for (const char c : mantissa) {
    if (c != '.') digits += c;
  }
  if (exponent < -5 || exponent >= 16) {
    out += digits.front();
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    out += exponent < 0 ? '-' : '+';
    append_integer(out, std::abs(exponent));
    return;
  }
  if (exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
    return;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;  // digits before the point
  if (digits.size() <= whole) {
    out += digits;
    out.append(whole - digits.size(), '0');
    out += ".0";
  } else {
    out.append(digits, 0, whole);
    out += '.';
    out.append(digits, whole);
  }
}

// A UTF-8 text as a JSON string: '"' and '\' escaped, control characters as \b \f \n \r \t or
// \u00XX, everything else (DEL and non-ASCII included) as it is.
inline void append_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && c != '"' && c != '\\') {
      out += c;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[u >> 4];
        out += kHex[u & 15];
    }
  }
  out += '"';
}

}  // namespace tarnwick::support::json_text
