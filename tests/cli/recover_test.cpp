// `recover` through the real tool: files encrypted by `encrypt` come back from word lists with
// rules, masks and what the user remembers; wrong spaces report nothing; a stopped search goes on
// from its restore point without trying anything twice.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

std::string Trim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

std::vector<std::string> Split(const std::string& s, const std::string& by) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(by, start);
    parts.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + by.size();
  }
}

// Some pages of plain text: what most old files hold, and enough for the search to be sure.
std::string Letter() {
  std::string text;
  for (int i = 0; i < 80; ++i)
    text += "Line " + std::to_string(i) + " of a letter kept for years.\n";
  return text;
}

void Encrypt(const TempFolder& dir, const std::string& phrase, const std::string& cipher,
             const std::string& hash, const std::string& plain, const std::string& sealed) {
  WriteText(dir / "pw", phrase);
  const CliResult r = RunCli({"encrypt", "--passphrase-file", dir / "pw", "-c", cipher, "-H", hash,
                              "--no-progress", plain, sealed});
  ASSERT_EQ(r.status, 0) << r.err;
}

uint64_t Tried(const std::string& err) {
  const std::size_t at = err.find(" candidates tried");
  if (at == std::string::npos) return 0;
  std::size_t start = err.rfind(' ', at - 1);
  return std::stoull(err.substr(start + 1, at - start - 1));
}

TEST(Recover, TableOfSpacesFindsThePassphrase) {
  std::ifstream table(std::string(KRYVANE_TEST_DATA_DIR) + "/recover/cases.txt");
  ASSERT_TRUE(table) << "cases.txt";
  TempFolder dir;
  WriteText(dir / "plain.txt", Letter());
  std::string line;
  int cases = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> col = Split(line, " | ");
    ASSERT_EQ(col.size(), 4u) << line;
    const std::string phrase = col[0];
    std::istringstream pair(col[1]);
    std::string cipher, hash;
    pair >> cipher >> hash;
    const std::string sealed = dir / ("case" + std::to_string(++cases));
    Encrypt(dir, phrase, cipher, hash, dir / "plain.txt", sealed);

    std::vector<std::string> args{"recover", "--no-progress"};
    bool skip = false;  // a rule file of hashcat's that is not installed
    std::istringstream words(Trim(col[2]));
    for (std::string w; words >> w;) {
      if (w.starts_with("WORDS=")) {
        std::string list;
        for (const std::string& word : Split(w.substr(6), ",")) list += word + "\n";
        WriteText(dir / "words", list);
        w = dir / "words";
      } else if (w == "RULES") {
        w = std::string(KRYVANE_TEST_DATA_DIR) + "/recover/mini.rule";
      } else if (w == "BEST64") {
        w = "/usr/share/hashcat/rules/best64.rule";
        skip = !Exists(w);
      }
      args.push_back(w);
    }
    if (skip) {
      std::cout << "skipped, hashcat's rule files are not installed: " << line << "\n";
      continue;
    }
    args.push_back(sealed);
    const CliResult r = RunCli(args, WithEnv({"XDG_STATE_HOME=" + (dir / "state")}));
    const std::string expected = col[3] == "=" ? phrase : col[3];
    EXPECT_EQ(r.status, 0) << line << "\n" << r.err;
    EXPECT_NE(r.out.find("passphrase: " + expected + "\n"), std::string::npos) << line << "\n"
                                                                               << r.out << r.err;
    if (expected != phrase) {
      EXPECT_NE(r.err.find("first 80 characters"), std::string::npos) << r.err;
    }
  }
  EXPECT_GE(cases, 10);
}

// A million candidates of which none is the passphrase report nothing, whatever the file holds;
// for random-looking content nothing could ever be confirmed, and the message says so.
TEST(Recover, MillionWrongCandidatesReportNothing) {
  TempFolder dir;
  std::string zeros(6000, '\0');
  const Bytes noise = RandomBytes(6000, 7);
  WriteText(dir / "text", Letter());
  WriteText(dir / "zeros", zeros);
  WriteFile(dir / "noise", noise);
  for (const char* name : {"text", "zeros", "noise"}) {
    const std::string sealed = dir / (std::string(name) + ".enc");
    Encrypt(dir, "not-digits-at-all", "rijndael", "sha1", dir / name, sealed);
    const CliResult r = RunCli({"recover", "--no-progress", "--mask", "?d?d?d?d?d?d", "-c",
                                "rijndael", "-H", "sha1", sealed},
                               WithEnv({"XDG_STATE_HOME=" + (dir / "state")}));
    EXPECT_EQ(r.status, 1) << name << r.err;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(Tried(r.err), 1000000u) << r.err;
    EXPECT_NE(r.err.find("compressed or encrypted data"), std::string::npos) << r.err;
  }
}

// Stopped by a signal, a search records where it is (privately, with no candidate in it) and
// --restore goes on from there: the two runs together try the space once.
TEST(Recover, StoppedSearchGoesOnFromItsRestorePoint) {
  TempFolder dir;
  WriteText(dir / "plain.txt", Letter());
  // A slow pair, so that the search is still running when the signal comes.
  Encrypt(dir, "not-in-the-space", "blowfish", "haval", dir / "plain.txt", dir / "sealed");
  const std::vector<std::string> env{"XDG_STATE_HOME=" + (dir / "state")};
  const std::vector<std::string> search{"recover", "--mask",    "?l?l?l?l?l", "--limit",
                                        "400000",  "-c",        "blowfish",   "-H",
                                        "haval",   "--progress"};
  std::vector<std::string> first = search;
  first.push_back(dir / "sealed");
  CliProcess running(first, env);
  ASSERT_TRUE(running.AwaitError("candidates,", 20000));
  running.Signal(SIGTERM);
  const CliResult stopped = running.Finish(60000);
  ASSERT_EQ(stopped.status, 1) << stopped.err;
  ASSERT_NE(stopped.err.find("--restore"), std::string::npos) << stopped.err;
  const uint64_t before = Tried(stopped.err);
  ASSERT_GT(before, 0u);
  ASSERT_LT(before, 400000u);

  const std::string folder = dir / "state/kryvane/recover";
  std::vector<std::string> files;
  for (const std::string& f : ListFolder(folder)) files.push_back(f);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(Mode(folder + "/" + files[0]), 0600u);
  EXPECT_EQ(ReadText(folder + "/" + files[0]).find("?l"), std::string::npos);

  // Without --restore the earlier search is not silently thrown away.
  CliResult again = RunCli(first, WithEnv(env));
  EXPECT_EQ(again.status, 2) << again.err;
  // Another space does not take this space's restore point.
  std::vector<std::string> other = first;
  other[2] = "?l?l?l?l?d";
  other.insert(other.begin() + 1, "--restore");
  again = RunCli(other, WithEnv(env));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("another search"), std::string::npos) << again.err;

  std::vector<std::string> resumed = first;
  resumed.insert(resumed.begin() + 1, "--restore");
  const CliResult rest = RunCli(resumed, WithEnv(env));
  EXPECT_EQ(rest.status, 1) << rest.err;
  EXPECT_EQ(before + Tried(rest.err), 400000u) << stopped.err << rest.err;
  // Gone once the space is through.
  EXPECT_TRUE(ListFolder(folder).empty());
}

TEST(Recover, StdoutPrintsTheCandidatesInsteadOfTryingThem) {
  const CliResult r =
      RunCli({"recover", "--stdout", "--mask", "a?d", "--skip", "3", "--limit", "2"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "a3\na4\n");
  const CliResult node = RunCli({"recover", "--stdout", "--mask", "?d", "--node", "2/3"});
  EXPECT_EQ(node.out, "3\n4\n5\n");
}

TEST(Recover, RefusalsNameTheCause) {
  TempFolder dir;
  WriteText(dir / "bad.rule", ":\nc\nX12\n");
  WriteText(dir / "words", "a\n");
  WriteText(dir / "f", "x");
  CliResult r =
      RunCli({"recover", "--wordlist", dir / "words", "--rules", dir / "bad.rule", dir / "f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.rule: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("line 3"), std::string::npos) << r.err;
  r = RunCli({"recover", "--wordlist", dir / "words", "--mask", "?d", dir / "f"});
  EXPECT_EQ(r.status, 2) << r.err;
  r = RunCli({"recover", "--mask", "?d", "-c", "nosuch", dir / "f"});
  EXPECT_EQ(r.status, 2) << r.err;
  r = RunCli({"recover", "--wordlist", dir.Path(), dir / "f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kryvane::test
