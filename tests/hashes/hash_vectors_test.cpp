// Every digest in tests/data/hashes/*.vec, each also fed in pieces of random sizes, on every
// processor path.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "app/catalogue.h"
#include "crypto/cpu.h"
#include "tests/support/hex.h"
#include "tests/support/vec_file.h"

namespace kryvane {
namespace {

using test::FromHex;
using test::ToHex;

// Record fields: Text (ASCII) or In (hex) is the message; Repeat = N repeats it N times;
// Out is the digest. The section names the hash by its short name.
std::vector<uint8_t> Message(const test::VecRecord& r) {
  std::vector<uint8_t> piece;
  if (r.Has("Text")) {
    const std::string& t = r.Get("Text");
    piece.assign(t.begin(), t.end());
  } else if (r.Has("In")) {
    piece = FromHex(r.Get("In"));
  }
  const int repeat = r.Has("Repeat") ? std::stoi(r.Get("Repeat")) : 1;
  std::vector<uint8_t> msg;
  for (int i = 0; i < repeat; ++i) msg.insert(msg.end(), piece.begin(), piece.end());
  return msg;
}

std::string Digest(Hash& h, const std::vector<uint8_t>& msg, std::mt19937& rng, bool split) {
  h.Init();
  if (!split) {
    h.Update(msg.data(), msg.size());
  } else {
    std::size_t pos = 0;
    while (pos < msg.size()) {
      const std::size_t n = std::min<std::size_t>(msg.size() - pos, rng() % 150);
      h.Update(msg.data() + pos, n);  // pieces of 0 bytes included
      pos += n;
    }
  }
  std::vector<uint8_t> out(static_cast<std::size_t>(h.HashSize() / 8));
  h.Final(out.data());
  return ToHex(out);
}

void CheckAllFiles();

TEST(HashVectors, AllFiles) {
  for (uint32_t level : cpu::Levels()) {
    SCOPED_TRACE("processor features " + std::to_string(level));
    cpu::ScopedLimit limit(level);
    CheckAllFiles();
  }
}

void CheckAllFiles() {
  std::mt19937 rng(1234);
  int checked = 0;
  for (const auto& file : std::filesystem::directory_iterator(test::TestDataPath("hashes"))) {
    if (file.path().extension() != ".vec") continue;
    const std::string name = "hashes/" + file.path().filename().string();
    for (const test::VecRecord& r : test::ReadVecFile(name)) {
      SCOPED_TRACE(name + ":" + std::to_string(r.line));
      const HashEntry* entry = FindHash(r.section);
      ASSERT_NE(entry, nullptr) << "unknown hash " << r.section;
      auto h = entry->hash.Create();
      const std::vector<uint8_t> msg = Message(r);
      const std::string expected = ToHex(FromHex(r.Get("Out")));
      EXPECT_EQ(Digest(*h, msg, rng, false), expected);
      EXPECT_EQ(Digest(*h, msg, rng, true), expected);
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace kryvane
