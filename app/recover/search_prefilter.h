// The search's cheap first look at a decryption, and its measure of how much a plausible head
// proves. Internal to the search.
//
// The detector judges up to 4096 bytes at once, and its text, UTF-16 and byte-statistics rules
// weigh the whole buffer: a head whose first block is noise can still be plausible when the rest
// makes up for it. No test of one block can be a necessary condition of those rules. The prefilter
// is therefore exact where the detector is local (every signature, the OpenPGP first packet, the
// TAR magic at offset 257) and, for text, UTF-16 and structure, demands that the first 16 bytes
// already look like them, with margins that let through every plausible head of the detector's
// table and of real files (see the tests): text that starts with a few control characters or
// accented letters, UTF-16 with or without a byte order mark, binary records with zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "app/detector.h"

namespace kryvane::recover {

inline constexpr std::size_t kPrefilterBytes = 16;
// The 8 bytes from this offset hold the TAR magic (257..262).
inline constexpr std::size_t kTarWindow = 256;
inline constexpr std::size_t kTarWindowBytes = 8;

// Why a start passed, as bits (several may be set).
enum StartKind : uint32_t {
  kStartSignature = 1u << 0,
  kStartPgp = 1u << 1,
  kStartText = 1u << 2,
  kStartUtf16 = 1u << 3,
  kStartStructure = 1u << 4,
  kStartTar = 1u << 5,
};

// first: the first kPrefilterBytes bytes of a decryption; tar: its kTarWindowBytes bytes from
// kTarWindow, or nullptr when the head is shorter than that. Returns the kinds it might be; 0
// means the key is dropped.
uint32_t StartKinds(const uint8_t* first, const uint8_t* tar);

// StartKinds of n starts at once, the same answers: first[i] and, unless tar is nullptr, the
// window in the first bytes of tar[i]. Where the processor has 512-bit vectors, the screens that
// drop nearly every wrong key run on four starts an instruction, and only what passes them is
// looked at one by one.
void StartKindsOf(const uint8_t (*first)[16], const uint8_t (*tar)[16], std::size_t n,
                  uint32_t* kinds);

inline bool MayBePlausible(const uint8_t* first, const uint8_t* tar) {
  return StartKinds(first, tar) != 0;
}

// Signatures, OpenPGP packets and the TAR magic are settled by StartKinds; for a start that passed
// only as text, UTF-16 or structure, false when the detector cannot call the whole head plausible
// (an exact bound, far cheaper than the detector itself).
bool HeadMayBePlausible(std::span<const uint8_t> head);
inline constexpr uint32_t kStartSettledBySignature = kStartSignature | kStartPgp | kStartTar;

// How many bits of evidence a head the detector calls plausible carries, roughly -log2 of the
// chance that noise shows as much: text and UTF-16 by the detector's own per-character weights,
// structure by the excess of equal byte pairs, a signature by the bits it pins plus what the rest
// of the head shows.
double EvidenceBits(std::span<const uint8_t> head, const Plausibility& verdict);

// The most evidence any head of this many bytes can carry.
double MaxEvidenceBits(std::size_t headSize);

}  // namespace kryvane::recover
