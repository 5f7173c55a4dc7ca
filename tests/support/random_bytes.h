// Reproducible random data for tests: the same seed, or the same generator state, gives the same
// bytes on every machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace kryvane::test {

using Bytes = std::vector<uint8_t>;

// The next n bytes of rng, one byte of each output.
inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes data(n);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  return data;
}

// n bytes from a generator seeded with seed.
inline Bytes RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  return RandomBytes(rng, n);
}

}  // namespace kryvane::test
