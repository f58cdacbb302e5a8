#pragma once
// A large JSON text assembled in two steps: the literal text first, with the places of its bulky
// blocks (base64 arrays) and their exact sizes; then the whole text at once into memory of exactly
// that size, the blocks written straight into it. So the text exists once in memory. No Python in
// here.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick::depthview::write {

class MessageText {
 public:
  // The literal text written so far.
  std::string& literal() { return literal_; }
  const std::string& literal() const { return literal_; }

  // Reserves a block of `size` bytes at the current end of the literal text, written later by
  // `write` (which must write exactly `size` bytes of ASCII).
  void block(std::size_t size, std::function<void(char*)> write) {
    blocks_.push_back({literal_.size(), size, std::move(write)});
  }

  // The size of the whole text.
  std::size_t size() const {
    std::size_t total = literal_.size();
    for (const Block& b : blocks_) total += b.size;
    return total;
  }
  // Whether the whole text is ASCII (the blocks always are).
  bool ascii() const {
    for (const char c : literal_) {
      if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
  }
  // Writes the whole text, size() bytes, to `out`.
  void write_to(char* out) const {
    std::size_t from = 0;
    for (const Block& b : blocks_) {
      out = copy(out, from, b.at);
      b.write(out);
      out += b.size;
      from = b.at;
    }
    copy(out, from, literal_.size());
  }

 private:
  struct Block {
    std::size_t at;  // the offset in the literal text where the block goes
    std::size_t size;
    std::function<void(char*)> write;
  };
  char* copy(char* out, std::size_t from, std::size_t to) const {
    literal_.copy(out, to - from, from);
    return out + (to - from);
  }

  std::string literal_;
  std::vector<Block> blocks_;
};

}  // namespace tarnwick::depthview::write
