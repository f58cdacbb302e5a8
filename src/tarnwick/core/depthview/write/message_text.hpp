#pragma once
// A large JSON text assembled in two steps: the literal text first, with the places of its bulky
// blocks (base64 arrays) and their exact sizes; then the whole text at once into memory of exactly
// that size, the blocks written straight into it. No Python in here.
//
// The literal text is kept in pieces of about a mebibyte, each freed as soon as it has been
// copied out, so that the text exists about once in memory even while it is being moved.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "tarnwick/core/depthview/release_memory.hpp"

namespace tarnwick::depthview::write {

class MessageText {
 public:
  MessageText() { pieces_.emplace_back(); }

  // The piece being written: append literal text to it.
  std::string& literal() { return pieces_.back(); }

  // Starts a new piece once the current one is large; call between values.
  void seal_if_large() {
    if (pieces_.back().size() >= kPiece) pieces_.emplace_back();
  }

  // Reserves a block of `size` bytes at the current end of the literal text, written later by
  // `write` (which must write exactly `size` bytes of ASCII).
  void block(std::size_t size, std::function<void(char*)> write) {
    blocks_.push_back({pieces_.size() - 1, pieces_.back().size(), size, std::move(write)});
  }

  // The size of the whole text.
  std::size_t size() const {
    std::size_t total = 0;
    for (const std::string& piece : pieces_) total += piece.size();
    for (const Block& b : blocks_) total += b.size;
    return total;
  }
  // Whether the whole text is ASCII (the blocks always are).
  bool ascii() const {
    for (const std::string& piece : pieces_) {
      for (const char c : piece) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
      }
    }
    return true;
  }
  // Writes the whole text, size() bytes, to `out`, freeing each literal piece once copied. The
  // text is gone afterwards.
  void write_to(char* out) {
    std::size_t next_block = 0;
    for (std::size_t p = 0; p < pieces_.size(); ++p) {
      std::string& piece = pieces_[p];
      std::size_t from = 0;
      for (; next_block < blocks_.size() && blocks_[next_block].piece == p; ++next_block) {
        const Block& b = blocks_[next_block];
        out = copy(out, piece, from, b.at);
        b.write(out);
        out += b.size;
        from = b.at;
      }
      out = copy(out, piece, from, piece.size());
      std::string().swap(piece);
      if (p % 8 == 7) release_free_memory();
    }
    blocks_.clear();
  }

 private:
  static constexpr std::size_t kPiece = 1 << 20;

  struct Block {
    std::size_t piece;  // the literal piece it goes into
    std::size_t at;     // the offset in that piece where it goes
    std::size_t size;
    std::function<void(char*)> write;
  };
  static char* copy(char* out, const std::string& piece, std::size_t from, std::size_t to) {
    piece.copy(out, to - from, from);
    return out + (to - from);
  }

  std::vector<std::string> pieces_;
  std::vector<Block> blocks_;
};

}  // namespace tarnwick::depthview::write
