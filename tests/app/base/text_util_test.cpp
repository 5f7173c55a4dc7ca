// How messages show file names: the table of tests/data/escape.vec.
#include "app/base/text_util.h"

#include <gtest/gtest.h>

#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

std::string Bytes(const std::string& hex) {
  const std::vector<uint8_t> b = FromHex(hex);
  return std::string(b.begin(), b.end());
}

TEST(EscapeControls, EveryControlCharacterOfTheTable) {
  const std::vector<VecRecord> records = ReadVecFile("escape.vec");
  ASSERT_FALSE(records.empty());
  for (const VecRecord& r : records) {
    SCOPED_TRACE("escape.vec line " + std::to_string(r.line));
    const std::string name = Bytes(r.Get("Name"));
    const std::string shown = r.Has("ShownHex") ? Bytes(r.Get("ShownHex")) : r.Get("Shown");
    EXPECT_EQ(ToHex(EscapeControls(name).data(), EscapeControls(name).size()),
              ToHex(shown.data(), shown.size()));
    EXPECT_EQ(HasControls(name), r.Get("Controls") == "yes");
  }
}

}  // namespace
}  // namespace kryvane::test
