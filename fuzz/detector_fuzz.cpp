// The detector, which judges every decryption (and the start of every file `identify` reads):
// any bytes give a score in 0-100 whose band is the verdict, a named piece of evidence, the same
// answer every time, and an answer that depends only on the first kAssessedBytes.
#include <span>

#include "app/detector.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const kryvane::Plausibility p = kryvane::Assess(bytes);
  Require(p.score >= 0 && p.score <= 100);
  Require((p.verdict == kryvane::Verdict::kPlausible) == (p.score >= kryvane::kPlausibleScore));
  Require((p.verdict == kryvane::Verdict::kRandomLooking) == (p.score < kryvane::kUnclearScore));
  Require(!p.evidence.empty());

  const kryvane::Plausibility again = kryvane::Assess(bytes);
  Require(again.score == p.score && again.verdict == p.verdict && again.evidence == p.evidence);
  if (size > kryvane::kAssessedBytes) {
    const kryvane::Plausibility head = kryvane::Assess(bytes.first(kryvane::kAssessedBytes));
    Require(head.score == p.score && head.verdict == p.verdict && head.evidence == p.evidence);
  }
  return 0;
}
