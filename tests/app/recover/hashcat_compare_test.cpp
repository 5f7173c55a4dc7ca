// Our candidates against `hashcat --stdout` for the same word list, rules and masks, where
// hashcat and its rule files (Debian's hashcat and hashcat-data) are installed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/recover/mask.h"
#include "app/recover/wordlist.h"
#include "tests/app/recover/fill_all.h"

namespace kryvane::recover {
namespace {

namespace fs = std::filesystem;

const char* const kBest64 = "/usr/share/hashcat/rules/best64.rule";

bool HaveHashcat() {
  return std::system("command -v hashcat >/dev/null 2>&1") == 0;
}

class HashcatCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveHashcat()) GTEST_SKIP() << "hashcat is not installed";
    std::string tmpl = (fs::temp_directory_path() / "kryvane-hashcat-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  // hashcat's candidates, one per line, with no files of its own left behind.
  std::vector<std::string> Hashcat(const std::string& args) {
    const std::string command = "cd '" + dir_.string() +
                                "' && hashcat --stdout --potfile-disable --logfile-disable "
                                "--restore-disable --session=kryvane-test-" +
                                std::to_string(getpid()) + " " + args + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    std::string out;
    char buf[1 << 16];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    EXPECT_EQ(pclose(pipe), 0) << command;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path dir_;
};

// Equal as multisets; on a difference, shows some of it.
void ExpectSameMultiset(std::vector<std::string> mine, std::vector<std::string> theirs) {
  std::sort(mine.begin(), mine.end());
  std::sort(theirs.begin(), theirs.end());
  if (mine == theirs) return;
  std::vector<std::string> only_mine, only_theirs;
  std::set_difference(mine.begin(), mine.end(), theirs.begin(), theirs.end(),
                      std::back_inserter(only_mine));
  std::set_difference(theirs.begin(), theirs.end(), mine.begin(), mine.end(),
                      std::back_inserter(only_theirs));
  std::string shown;
  for (std::size_t i = 0; i < only_mine.size() && i < 10; ++i) shown += " ours: " + only_mine[i];
  for (std::size_t i = 0; i < only_theirs.size() && i < 10; ++i) {
    shown += " hashcat: " + only_theirs[i];
  }
  ADD_FAILURE() << mine.size() << " candidates, hashcat " << theirs.size() << ";" << shown;
}

TEST_F(HashcatCompare, WordListWithBest64) {
  if (!fs::exists(kBest64)) GTEST_SKIP() << kBest64 << " is not installed";
  const std::vector<std::string> words = {"password",
                                          "Summer2019",
                                          "abc",
                                          "",
                                          "p@ssW0rd",
                                          "hello world",
                                          "a",
                                          "ZZtop99",
                                          "caf\xc3\xa9",
                                          "0123456789abcdefghij",
                                          std::string(130, 'k'),
                                          std::string(250, 'm')};
  // hashcat 6.2.6 ORs the bytes of the next word in its buffer into what a rule appends (d, f,
  // p...); a word of NUL bytes, as long as a word may be, after each word keeps the results clean,
  // and its own results, which keep NUL bytes, are dropped.
  std::string list;
  std::string ours;
  for (const std::string& w : words) {
    list += w + "\n$HEX[" + std::string(2 * kMaxCandidate, '0') + "]\n";
    ours += w + "\n";
  }
  Write("words", list);
  std::vector<std::string> theirs = Hashcat("-r " + std::string(kBest64) + " words");
  std::erase_if(theirs, [](const std::string& s) { return s.find('\0') != std::string::npos; });

  std::ifstream rule_file(kBest64);
  WordlistSource source([&] { return std::make_unique<std::istringstream>(ours); },
                        RuleSet::Parse(rule_file));
  std::vector<std::string> mine = FillAll(source, kNoEnd, 4096);
  ASSERT_GT(mine.size(), 500u);
  ExpectSameMultiset(std::move(mine), std::move(theirs));
}

TEST_F(HashcatCompare, Masks) {
  struct Case {
    std::string cs1, cs2, mask;
  };
  const std::vector<Case> masks = {{"", "", "?d?l"},  {"?l?d", "", "?1?1"}, {"ab", "?1?d", "?2?2"},
                                   {"", "", "a?u?s"}, {"", "", "?h?H"},     {"", "", "??x?a"}};
  std::string file;
  std::vector<std::string> mine;
  for (const Case& c : masks) {
    file += (c.cs1.empty() ? "" : c.cs1 + ",") + (c.cs2.empty() ? "" : c.cs2 + ",") + c.mask + "\n";
    MaskOptions options;
    options.custom[0] = c.cs1;
    options.custom[1] = c.cs2;
    MaskSource source(c.mask, options);
    for (auto& s : FillAll(source, kNoEnd, 4096)) mine.push_back(std::move(s));
  }
  Write("masks.hcmask", file);
  std::vector<std::string> theirs = Hashcat("-a 3 masks.hcmask");
  MaskSource increment("?d?s?d", MaskOptions{.increment = true});
  for (auto& s : FillAll(increment, kNoEnd, 4096)) mine.push_back(std::move(s));
  for (auto& s : Hashcat("-a 3 --increment '?d?s?d'")) theirs.push_back(std::move(s));
  ExpectSameMultiset(std::move(mine), std::move(theirs));
}

}  // namespace
}  // namespace kryvane::recover
