// The buffers of tests/data/detector.vec, built from a record's fields: shared by the detector's
// test and the tests of what relies on its verdicts.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/vec_file.h"

namespace kryvane::test {

// Hex, Text (Utf16, Repeat), Then and Put, as the file's header explains.
std::vector<uint8_t> BuildDetectorBuffer(const VecRecord& record);

}  // namespace kryvane::test
