// What the ICE unit keeps to itself but its tests look at: the shared S-boxes and how often they
// were computed. Not installed.
#pragma once

#include <cstdint>

#include "ciphers/ice.h"

namespace kryvane {

// S1..S4 with the P-box already applied, indexed by a 10-bit half of a 20-bit round input.
struct IceSBoxes {
  uint32_t s[4][1024];
};

namespace ice_detail {

using SBoxes = IceSBoxes;

// The program-wide S-boxes, computed on the first call (safely if several threads make it at
// once) and read-only afterwards.
const SBoxes& SharedSBoxes();

// How many times the S-boxes have been computed in this process; lets tests prove it is once.
int SBoxBuildCount();

}  // namespace ice_detail
}  // namespace kryvane
