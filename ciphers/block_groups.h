// Runs a block count through a routine that handles a fixed group of blocks at once (vector
// lanes, interleaved rounds). Private to the cipher units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/bytes.h"

namespace kryvane {

// Whole groups go straight from in to out; a final short group goes through a zero-padded buffer
// (one pass of the group costs less than a few single blocks), a lone block through `one`.
// group(in, out) and one(in, out) may be called with in == out.
template <std::size_t kBlock, std::size_t kWidth, class Group, class One>
inline void RunGroups(const uint8_t* in, uint8_t* out, std::size_t n, Group group, One one) {
  for (; n >= kWidth; n -= kWidth, in += kBlock * kWidth, out += kBlock * kWidth) group(in, out);
  if (n == 0) return;
  if (n == 1) {
    one(in, out);
    return;
  }
  alignas(64) uint8_t buf[kBlock * kWidth] = {};
  std::memcpy(buf, in, kBlock * n);
  group(buf, buf);
  std::memcpy(out, buf, kBlock * n);
  SecureZeroObject(buf);
}

}  // namespace kryvane
