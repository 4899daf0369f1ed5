// A bounded little-endian reader over bytes in memory: every read checks
// what is left first, so a parser built on it never reads past its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kiv {

using ByteSpan = std::span<const std::uint8_t>;

inline std::uint32_t LoadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

class ByteReader {
 public:
  explicit ByteReader(ByteSpan bytes) : bytes_(bytes) {}

  // False, with nothing consumed, when fewer than four bytes are left.
  bool ReadLe32(std::uint32_t* value) {
    if (left() < 4) return false;
    *value = LoadLe32(bytes_.data() + position_);
    position_ += 4;
    return true;
  }
  // The next `count` bytes, valid as long as the underlying bytes are;
  // false, with nothing consumed, when fewer are left.
  bool Take(std::size_t count, ByteSpan* taken) {
    if (left() < count) return false;
    *taken = bytes_.subspan(position_, count);
    position_ += count;
    return true;
  }
  bool Skip(std::size_t count) {
    ByteSpan skipped;
    return Take(count, &skipped);
  }
  // Moves to an offset from the start; false (not moved) past the end.
  bool Seek(std::size_t offset) {
    if (offset > bytes_.size()) return false;
    position_ = offset;
    return true;
  }

  std::size_t left() const { return bytes_.size() - position_; }
  std::int64_t offset() const { return static_cast<std::int64_t>(position_); }
  std::size_t size() const { return bytes_.size(); }
  ByteSpan all() const { return bytes_; }

 private:
  ByteSpan bytes_;
  std::size_t position_ = 0;
};

}  // namespace kiv
