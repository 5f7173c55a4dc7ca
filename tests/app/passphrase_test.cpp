#include "app/passphrase.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstring>

#include "tests/support/hex.h"

namespace kryvane::test {
namespace {

TEST(Passphrase, Encodings) {
  struct Case {
    const char* text;
    PassphraseEncoding encoding;
    const char* bytes;  // hex; nullptr when refused
  };
  using enum PassphraseEncoding;
  const Case cases[] = {
      {"", kAuto, ""},
      {"abc", kAuto, "616263"},
      {"caf\xC3\xA9", kAuto, "636166E9"},       // é fits Windows-1252
      {"\xE2\x82\xAC", kAuto, "80"},            // € is 80 there, not A4 as in Latin-9
      {"\xC5\xB8", kAuto, "9F"},                // Ÿ
      {"\xC2\x81", kAuto, "81"},                // unassigned, kept as its control code
      {"\xCE\xA9", kAuto, "CEA9"},              // Ω does not fit: UTF-8
      {"\xC3\xA9\xCE\xA9", kAuto, "C3A9CEA9"},  // one misfit makes the whole text UTF-8
      {"\xF0\x9F\x94\x91", kAuto, "F09F9491"},  // outside the BMP
      {"caf\xE9", kAuto, "636166E9"},           // not UTF-8: the bytes themselves
      {"\xC0\xAF", kAuto, "C0AF"},              // overlong form: not UTF-8
      {"\xED\xA0\x80", kAuto, "EDA080"},        // surrogate: not UTF-8
      {"caf\xC3\xA9", kUtf8, "636166C3A9"},
      {"caf\xC3\xA9", kCp1252, "636166E9"},
      {"\xCE\xA9", kCp1252, nullptr},
      {"caf\xE9", kCp1252, "636166E9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToHex(c.text, std::strlen(c.text)));
    const auto bytes = EncodePassphrase(c.text, c.encoding);
    if (c.bytes == nullptr) {
      EXPECT_FALSE(bytes.has_value());
    } else {
      ASSERT_TRUE(bytes.has_value());
      EXPECT_EQ(ToHex(bytes->data(), bytes->size()), c.bytes);
    }
  }
}

TEST(Passphrase, ParsesEncodingNames) {
  EXPECT_EQ(ParsePassphraseEncoding("AUTO"), PassphraseEncoding::kAuto);
  EXPECT_EQ(ParsePassphraseEncoding("windows-1252"), PassphraseEncoding::kCp1252);
  EXPECT_EQ(ParsePassphraseEncoding("utf8"), PassphraseEncoding::kUtf8);
  EXPECT_FALSE(ParsePassphraseEncoding("latin1").has_value());
}

// Every byte agrees with the C library's own Windows-1252 table, and every byte survives the way
// there and back, so a settings file written on Windows keys the same as the original did.
TEST(Passphrase, Cp1252TableAgreesWithIconv) {
  iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
  if (cd == iconv_t(-1)) GTEST_SKIP() << "iconv has no WINDOWS-1252";
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    const std::string byte(1, char(b));
    const std::string utf8(Cp1252ToUtf8(byte).View());
    char in = char(b);
    char out[8];
    char* inp = &in;
    char* outp = out;
    std::size_t inLeft = 1, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != std::size_t(-1)) {
      EXPECT_EQ(utf8, std::string(out, outp));
    } else {
      // The five unassigned bytes map to the control character of the same number.
      EXPECT_TRUE(b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D);
      EXPECT_EQ(utf8, std::string({char(0xC2), char(b)}));
    }
    EXPECT_EQ(EncodePassphrase(utf8, PassphraseEncoding::kAuto), byte);
    EXPECT_EQ(Utf8ToCp1252(utf8), byte);
  }
  iconv_close(cd);
}

}  // namespace
}  // namespace kryvane::test
