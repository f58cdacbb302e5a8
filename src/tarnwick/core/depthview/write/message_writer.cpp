#include "tarnwick/core/depthview/write/message_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "tarnwick/core/depthview/release_memory.hpp"
#include "tarnwick/core/depthview/write/base64.hpp"

namespace tarnwick::depthview::write::pieces {

namespace {

constexpr std::string_view kRecordHead = "{\"shape\":[";
constexpr std::string_view kRecordMiddle = "],\"dtype\":\"float32\",\"buffer\":\"";
constexpr std::string_view kRecordTail = "\",\"codec\":\"b64\"}";

std::size_t decimal_digits(std::size_t value) {
  std::size_t digits = 1;
  while (value >= 10) {
    value /= 10;
    ++digits;
  }
  return digits;
}

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

char* put_head(char* out, std::size_t count) {
  out = put(out, kRecordHead);
  out = std::to_chars(out, out + 24, count).ptr;
  return put(out, kRecordMiddle);
}

// Placements turned into float32 matrices this many at a time: 24 bytes each, a multiple of three,
// so that the chunks' base64 texts join into the text of the whole.
constexpr std::size_t kChunk = 4096;

}  // namespace

std::size_t buffer_record_size(std::size_t count) {
  return kRecordHead.size() + decimal_digits(count) + kRecordMiddle.size() +
         base64::encoded_size(count * sizeof(float)) + kRecordTail.size();
}

void append_matrices(MessageText& text, const std::vector<model::Placement>* placements,
                     double units_per_micrometre) {
  const std::size_t count = 6 * placements->size();
  text.block(buffer_record_size(count), [=](char* out) {
    out = put_head(out, count);
    std::vector<float> values;
    for (std::size_t first = 0; first < placements->size(); first += kChunk) {
      const std::size_t last = std::min(placements->size(), first + kChunk);
      values.clear();
      for (std::size_t i = first; i < last; ++i) {
        for (const double v : (*placements)[i].matrix(units_per_micrometre)) {
          values.push_back(static_cast<float>(v));
        }
      }
      out += base64::encode(values.data(), values.size() * sizeof(float), out);
    }
    put(out, kRecordTail);
  });
}

void append_empty_matrices(MessageText& text) {
  std::string& out = text.literal();
  out += kRecordHead;
  out += '0';
  out += kRecordMiddle;
  out += kRecordTail;
}

void append_pool_polygons(MessageText& text, model::PolygonPool& pool,
                          double units_per_micrometre) {
  std::size_t size = 2 + (pool.size() > 0 ? pool.size() - 1 : 0);  // brackets and commas
  for (std::size_t k = 0; k < pool.size(); ++k) size += buffer_record_size(pool.polygon(k).size());
  text.block(size, [&pool, units_per_micrometre](char* out) {
    std::vector<float> values;
    *out++ = '[';
    for (std::size_t k = 0; k < pool.size(); ++k) {
      if (k != 0) *out++ = ',';
      const auto polygon = pool.polygon(k);
      values.resize(polygon.size());
      for (std::size_t i = 0; i < polygon.size(); ++i) {
        values[i] = static_cast<float>(static_cast<double>(polygon[i]) / units_per_micrometre);
      }
      out = put_head(out, values.size());
      out += base64::encode(values.data(), values.size() * sizeof(float), out);
      out = put(out, kRecordTail);
      if (k % 4096 == 0 && pool.release_before(k)) release_free_memory();
    }
    pool.release_before(pool.size());
    release_free_memory();
    *out = ']';
  });
}

void append_refs(std::string& out, const std::vector<std::int64_t>& refs) {
  out += '[';
  for (std::size_t i = 0; i < refs.size(); ++i) {
    if (i != 0) out += ',';
    support::json_text::append_integer(out, refs[i]);
  }
  out += ']';
}

}  // namespace tarnwick::depthview::write::pieces
