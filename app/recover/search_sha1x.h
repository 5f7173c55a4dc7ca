// SHA-1 of many short messages at once, one message per vector lane: the search hashes millions of
// passphrases of a few bytes each, where one message at a time leaves most of the processor idle.
// Internal to the search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/cpu.h"

namespace kryvane::recover {

// A message of up to this many bytes fits one 64-byte block with its padding.
inline constexpr std::size_t kSha1ShortMax = 55;

// The lanes one call of the widest path the enabled features allow fills (1 when there is none).
std::size_t Sha1Lanes();
std::size_t Sha1Lanes(cpu::Isa isa);

// digests[i][0 .. 20) = SHA-1(messages[i][0 .. sizes[i])) for i < count; every size at most
// kSha1ShortMax. Any count; vector paths take the messages in groups of their lane count. isa
// chooses the path (at most what the processor has and the ceiling allows; see cpu::VectorIsa);
// kSse2 and kPortable hash one message at a time with the project's SHA-1.
void Sha1Short(cpu::Isa isa, const uint8_t* const* messages, const uint8_t* sizes,
               std::size_t count, uint8_t* const* digests);

}  // namespace kryvane::recover
