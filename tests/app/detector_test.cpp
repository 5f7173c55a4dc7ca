// The plausibility detector on a table of buffers (tests/data/detector.vec), and on the noise a
// wrong key produces.
#include "app/detector.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/detector_buffers.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Detector, TableOfBuffers) {
  const auto records = ReadVecFile("detector.vec");
  ASSERT_FALSE(records.empty());
  for (const VecRecord& r : records) {
    const Bytes b = BuildDetectorBuffer(r);
    const Plausibility p = Assess(b);
    const std::string where = "detector.vec line " + std::to_string(r.line);
    EXPECT_EQ(VerdictName(p.verdict), r.Get("Verdict")) << where << ": " << p.evidence;
    EXPECT_EQ(p.evidence, r.Get("Evidence")) << where;
    // The score bands and the verdict agree.
    if (p.verdict == Verdict::kPlausible) {
      EXPECT_GE(p.score, kPlausibleScore) << where;
    }
    if (p.verdict == Verdict::kUnclear) {
      EXPECT_GE(p.score, kUnclearScore) << where;
      EXPECT_LT(p.score, kPlausibleScore) << where;
    }
    if (p.verdict == Verdict::kRandomLooking) {
      EXPECT_LT(p.score, kUnclearScore) << where;
    }
  }
}

// What identify relies on: the noise of a wrong key is never taken for a file, at any length,
// and from a few dozen bytes on it is called random-looking.
TEST(Detector, NoiseIsNeverPlausible) {
  std::mt19937 rng(2024);
  int randomLooking = 0, longOnes = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t size = 1 + rng() % (trial % 3 == 0 ? 64 : 5000);
    Bytes b(size);
    for (auto& v : b) v = uint8_t(rng());
    const Plausibility p = Assess(b);
    ASSERT_NE(p.verdict, Verdict::kPlausible) << size << " bytes: " << p.evidence;
    if (size >= 48) {
      ++longOnes;
      if (p.verdict == Verdict::kRandomLooking) ++randomLooking;
    }
  }
  // A rare buffer may look a little structured; nearly all must be recognised as noise.
  EXPECT_GE(randomLooking, longOnes * 99 / 100);
}

// A signature outranks text: a PDF starts with printable text, yet its evidence is the signature.
TEST(Detector, SignatureOutweighsText) {
  const std::string pdf = "%PDF-1.7\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<< /Type /Catalog >>\nendobj\n";
  const Plausibility p = Assess({reinterpret_cast<const uint8_t*>(pdf.data()), pdf.size()});
  EXPECT_EQ(p.evidence, "PDF signature");
}

}  // namespace
}  // namespace kryvane::test
