// The fuzz input read from the front, a byte or a run at a time, for the targets that take
// their events from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;

  bool More() const { return pos < size; }
  // The next byte, or -1 once the input is used up.
  int Next() { return pos < size ? data[pos++] : -1; }
  // The next byte, or 0 once the input is used up.
  uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  // The next `n` bytes, fewer at the end.
  std::vector<uint8_t> Bytes(size_t n) {
    if (n > size - pos) n = size - pos;
    std::vector<uint8_t> v(data + pos, data + pos + n);
    pos += n;
    return v;
  }
};

}  // namespace fuzz
