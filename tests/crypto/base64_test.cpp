#include "crypto/base64.h"

#include <gtest/gtest.h>

namespace kryvane {
namespace {

TEST(Base64, EncodeTable) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="},
                {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"},
                {"\xff\xfe\xfd", "//79"}};
  for (const auto& k : kCases) {
    EXPECT_EQ(EncodeBase64Text(k.in), k.out);
    EXPECT_EQ(DecodeBase64Text(k.out), k.in);
  }
}

TEST(Base64, DecodeLeniency) {
  char out[16];
  EXPECT_EQ(DecodeBase64Buffer("Zm9vYm", out, 6), 3u);  // the last two characters are ignored
  EXPECT_EQ(std::string(out, 3), "foo");
  EXPECT_EQ(DecodeBase64Buffer("Zg==", out, 4), 1u);
  EXPECT_EQ(DecodeBase64Buffer("Zm8=", out, 4), 2u);
  EXPECT_EQ(DecodeBase64Buffer("Zm9v", out, 4), 3u);
  // Groups after a padded group are still decoded.
  EXPECT_EQ(DecodeBase64Buffer("Zg==Zm9v", out, 8), 4u);
  EXPECT_EQ(std::string(out, 4), "ffoo");
  // A character outside the alphabet counts as zero bits, never as stale data.
  EXPECT_EQ(DecodeBase64Text("Z*=="), DecodeBase64Text("ZA=="));
  EXPECT_EQ(DecodeBase64Text(""), "");
}

}  // namespace
}  // namespace kryvane
