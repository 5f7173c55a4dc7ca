// Blowfish's first blocks under many keys at once, for the search. A Blowfish key schedule is 521
// block encryptions in a chain, each waiting on its table loads; eight schedules interleaved keep
// the processor busy instead. Gives the bytes of the project's Blowfish. Internal to the search.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kryvane::recover {

// Keys per group; a group's tables take 33 KB, which stays in the first-level cache.
inline constexpr std::size_t kBlowfishLanes = 8;

// For each of count keys of keyBytes bytes (1 to 56): first[i] = the first 16 bytes of the
// decryption of a file whose first 16 ciphertext bytes are c0; when c248 is given (the file's
// ciphertext bytes 248..264), tar[i][0..8) = the plaintext bytes 256..264.
void BlowfishStarts(const uint8_t* const* keys, std::size_t keyBytes, std::size_t count,
                    const uint8_t* c0, const uint8_t* c248, uint8_t (*first)[16],
                    uint8_t (*tar)[16]);

}  // namespace kryvane::recover
