// Splits a fuzzer's input into the choices and pieces a target needs. Reading past the end gives
// zeros and empty pieces, so every input is usable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kryvane::fuzz {

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Short() { return uint16_t(Byte() | (Byte() << 8)); }
  // A piece whose length is given by the next byte (at most what is left).
  std::string Piece() { return Take(Byte()); }
  std::string Take(std::size_t n) {
    n = std::min(n, size_ - at_);
    std::string s(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return s;
  }
  std::string Rest() { return Take(size_ - at_); }
  bool Empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A check that must hold: abort so the fuzzer keeps the input.
inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace kryvane::fuzz
