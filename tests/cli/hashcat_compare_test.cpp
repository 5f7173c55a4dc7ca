// `recover --stdout` against `hashcat --stdout` for the same word list with each rule file of a
// table, and for the same masks, where Debian's hashcat and hashcat-data are installed (the test
// script installs them).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

const std::string kRules = "/usr/share/hashcat/rules/";
constexpr std::size_t kMaxCandidate = 256;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the last line has no end";
  return lines;
}

class HashcatCompare : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("hashcat")) GTEST_SKIP() << "hashcat is not installed";
  }

  // hashcat's candidates. Its first run on a machine compiles its kernels into the user's cache
  // (most of a minute); later runs take seconds each, which is why each test runs it few times.
  std::vector<std::string> Hashcat(std::vector<std::string> args) {
    // Two at once under one session name: the second refuses to run.
    static int runs = 0;
    const std::string session =
        "--session=kryvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(++runs);
    args.insert(args.begin(), {"hashcat", "--stdout", "--potfile-disable", "--logfile-disable",
                               "--restore-disable", session});
    // One hashcat at a time on the machine: the first ones compile their kernels into a cache
    // that two at once would both be writing.
    const int lock =
        ::open("/tmp/kryvane-test-hashcat.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    EXPECT_GE(lock, 0);
    if (lock >= 0) ::flock(lock, LOCK_EX);
    const ToolResult r = RunTool(args);
    if (lock >= 0) ::close(lock);
    // hashcat stops at once where it finds no compute platform, even for --stdout: the machine
    // cannot run it, which says nothing of ours.
    const std::string said = r.out + r.err;
    if (r.status != 0 && said.find("No OpenCL") != std::string::npos) {
      unusable_ = said.substr(0, said.find('\n', said.find("No OpenCL")));
      return {};
    }
    EXPECT_EQ(r.status, 0) << r.err;
    return Lines(r.out);
  }
  std::string unusable_;  // why hashcat cannot run here

  std::vector<std::string> Ours(const std::vector<std::string>& args) {
    std::vector<std::string> all{"recover", "--stdout"};
    all.insert(all.end(), args.begin(), args.end());
    const CliResult r = RunCli(all);
    EXPECT_EQ(r.status, 0) << r.err;
    return Lines(r.out);
  }

  TempFolder dir_;
};

// Equal as multisets; on a difference, shows some of it.
void ExpectSameMultiset(const std::string& what, std::vector<std::string> mine,
                        std::vector<std::string> theirs) {
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
  ADD_FAILURE() << what << ": " << mine.size() << " candidates, hashcat " << theirs.size() << ";"
                << shown;
}

TEST_F(HashcatCompare, WordListWithEachRuleFile) {
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
  std::string list, ours;
  for (const std::string& w : words) {
    list += w + "\n$HEX[" + std::string(2 * kMaxCandidate, '0') + "]\n";
    ours += w + "\n";
  }
  WriteText(dir_ / "padded", list);
  WriteText(dir_ / "words", ours);

  // hashcat runs once over the table's files put together (its results are those of each file in
  // turn); ours runs with each file.
  std::ifstream table(std::string(KRYVANE_TEST_DATA_DIR) + "/recover/hashcat_rules.txt");
  ASSERT_TRUE(table) << "hashcat_rules.txt";
  std::string together;
  std::vector<std::string> mine;
  int files = 0;
  for (std::string name; std::getline(table, name);) {
    if (name.empty() || name[0] == '#') continue;
    const std::string rules = kRules + name;
    if (!Exists(rules)) GTEST_SKIP() << rules << " is not installed";
    ++files;
    together += ReadText(rules) + "\n";
    const std::vector<std::string> these = Ours({"--wordlist", dir_ / "words", "--rules", rules});
    ASSERT_GE(these.size(), words.size()) << name;
    mine.insert(mine.end(), these.begin(), these.end());
  }
  ASSERT_GE(files, 5);
  WriteText(dir_ / "together.rule", together);
  std::vector<std::string> theirs = Hashcat({"-r", dir_ / "together.rule", dir_ / "padded"});
  if (!unusable_.empty()) GTEST_SKIP() << "hashcat cannot run here: " << unusable_;
  std::erase_if(theirs, [](const std::string& s) { return s.find('\0') != std::string::npos; });
  ExpectSameMultiset("the rule files", std::move(mine), std::move(theirs));
}

TEST_F(HashcatCompare, Masks) {
  struct Case {
    std::string cs1, cs2, mask;
  };
  const std::vector<Case> masks = {{"", "", "?d?l"},  {"?l?d", "", "?1?1"}, {"ab", "?1?d", "?2?2"},
                                   {"", "", "a?u?s"}, {"", "", "?h?H"},     {"", "", "??x?a"}};
  // hashcat takes them all from one mask file (charsets, then the mask, by commas).
  std::string file;
  std::vector<std::string> mine;
  for (const Case& c : masks) {
    file += (c.cs1.empty() ? "" : c.cs1 + ",") + (c.cs2.empty() ? "" : c.cs2 + ",") + c.mask + "\n";
    std::vector<std::string> args{"--mask", c.mask};
    if (!c.cs1.empty()) args.insert(args.end(), {"-1", c.cs1});
    if (!c.cs2.empty()) args.insert(args.end(), {"-2", c.cs2});
    for (std::string& s : Ours(args)) mine.push_back(std::move(s));
  }
  WriteText(dir_ / "masks.hcmask", file);
  std::vector<std::string> theirs = Hashcat({"-a", "3", dir_ / "masks.hcmask"});
  if (!unusable_.empty()) GTEST_SKIP() << "hashcat cannot run here: " << unusable_;
  ExpectSameMultiset("the masks", std::move(mine), std::move(theirs));
  ExpectSameMultiset("--increment ?d?s?d", Ours({"--mask", "?d?s?d", "--increment"}),
                     Hashcat({"-a", "3", "--increment", "?d?s?d"}));
}

}  // namespace
}  // namespace kryvane::test
