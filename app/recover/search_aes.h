// Rijndael's first blocks under many keys at once with the processor's AES instructions, for the
// search: key schedule, the initial vector E_K(0) and two block decryptions per key, several keys
// interleaved so that the instructions' latencies overlap. Gives the bytes of the project's
// Rijndael (a key of 20 bytes runs as 24 with zeros appended). Internal to the search.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kryvane::recover {

// The AES instructions may be used (the processor has them and no ceiling forbids them).
bool RijndaelStartsAvailable();

// For each of count keys of keyBytes bytes (16, 20, 24 or 32): first[i] = the first 16 bytes of
// the decryption of a file whose first ciphertext block is c0; when c240 is given (the file's
// ciphertext bytes 240..272), tar[i] = the plaintext bytes 256..272.
void RijndaelStarts(const uint8_t* const* keys, std::size_t keyBytes, std::size_t count,
                    const uint8_t* c0, const uint8_t* c240, uint8_t (*first)[16],
                    uint8_t (*tar)[16]);

}  // namespace kryvane::recover
