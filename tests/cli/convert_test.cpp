// kryvane-cli convert as a user runs it: files the age tool opens, the guard against a wrong
// legacy key, the source kept or deleted, and convert --check.
#include <sys/stat.h>

#include <map>
#include <set>

#include "tests/cli/run_cli.h"
#include "tests/support/external_tool.h"
#include "tests/support/temp_files.h"
#include "tests/support/text_like.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

class Convert : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto keys = ReadVecFile("age/keys.vec").at(0);
    recipient_ = keys.Get("Recipient");
    keyFile_ = dir_ / "key.txt";
    WriteText(keyFile_, "# test key\n" + keys.Get("Identity") + "\n");
    haveAge_ = HaveProgram("age");
  }

  // A legacy file of plain under the passphrase "old pass".
  std::string Legacy(const std::string& name, const Bytes& plain) {
    WriteFile(dir_ / (name + ".plain"), plain);
    const CliResult r =
        RunCli({"encrypt", "--passphrase-env", "OLD", dir_ / (name + ".plain"), dir_ / name},
               WithEnv({"OLD=old pass"}));
    EXPECT_EQ(r.status, 0) << r.err;
    return dir_ / name;
  }

  CliResult ConvertTo(const std::vector<std::string>& extra,
                      const std::string& oldPass = "old pass", std::vector<std::string> env = {}) {
    std::vector<std::string> args = {"convert", "--passphrase-env", "OLD"};
    args.insert(args.end(), extra.begin(), extra.end());
    env.push_back("OLD=" + oldPass);
    return RunCli(args, WithEnv(env));
  }

  ToolResult AgeDecrypt(const std::string& file) {
    return RunTool({"age", "-d", "-i", keyFile_, file});
  }

  TempFolder dir_;
  std::string recipient_, keyFile_;
  bool haveAge_ = false;
};

#define REQUIRE_AGE() \
  if (!haveAge_) GTEST_SKIP() << "the age tool is not installed (scripts/deps.sh installs it)"

TEST_F(Convert, AgeOpensWhatConvertWrites) {
  REQUIRE_AGE();
  struct Case {
    std::size_t size;
    bool armor;
  };
  for (const Case c : {Case{0, false}, Case{1, false}, Case{65535, true}, Case{65536, false},
                       Case{65537, true}, Case{200000, true}, Case{4 * 1024 * 1024 + 3, false}}) {
    SCOPED_TRACE(std::to_string(c.size) + (c.armor ? " armored" : ""));
    const Bytes plain = TextLike(c.size);
    const std::string source = Legacy("legacy", plain), target = dir_ / "out.age";
    std::vector<std::string> args = {"-r", recipient_, source, target};
    // Armored files are also read back, through the armor, before they take the target's place.
    if (c.armor) args.insert(args.begin(), {"--armor", "--verify"});
    const CliResult r = ConvertTo(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    const ToolResult back = AgeDecrypt(target);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == std::string(plain.begin(), plain.end()));
    EXPECT_TRUE(Exists(source));
  }
}

TEST_F(Convert, StandardInputToStandardOutput) {
  const Bytes plain = TextLike(100000);
  const std::string legacy = Legacy("legacy", plain);
  const CliResult r = RunCli({"convert", "--passphrase-env", "OLD", "-r", recipient_, "-", "-"},
                             WithEnv({"OLD=old pass"}, ReadText(legacy)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("age-encryption.org/v1\n"));
  const std::string file = dir_ / "piped.age";
  WriteText(file, r.out);
  const CliResult check = RunCli({"convert", "--check", file, "-i", keyFile_});
  EXPECT_EQ(check.out, file + ": OK (100000 bytes authenticated)\n") << check.err;
  // The guard works on a pipe too: nothing at all reaches standard output.
  const CliResult wrong = RunCli({"convert", "--passphrase-env", "OLD", "-r", recipient_, "-", "-"},
                                 WithEnv({"OLD=wrong"}, ReadText(legacy)));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_TRUE(wrong.out.empty());
}

TEST_F(Convert, PassphraseFileOpensInAgeOnATerminalAndInCheck) {
  const Bytes plain = TextLike(70000);
  const std::string source = Legacy("legacy", plain), target = dir_ / "p.age";
  const CliResult r =
      ConvertTo({"--new-passphrase-env", "NEW", "--work-factor", "10", source, target}, "old pass",
                {"NEW=new pass"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      RunCli({"convert", "--check", target, "--passphrase-env", "NEW"}, WithEnv({"NEW=new pass"}))
          .status,
      0);
  const CliResult wrong =
      RunCli({"convert", "--check", target, "--passphrase-env", "NEW"}, WithEnv({"NEW=old pass"}));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("the passphrase is wrong"), std::string::npos) << wrong.err;
  if (!haveAge_) GTEST_SKIP() << "the age tool is not installed";
  const std::string out = dir_ / "p.out";
  const ToolResult age =
      RunToolOnTerminal({"age", "-d", "-o", out, target}, {{"passphrase", "new pass\n"}});
  ASSERT_EQ(age.status, 0) << age.out;
  EXPECT_EQ(ReadFile(out), plain);
}

TEST_F(Convert, NewPassphraseIsAskedTwiceOnTheTerminal) {
  const std::string source = Legacy("legacy", TextLike(1000)), target = dir_ / "t.age";
  const std::string oldFile = dir_ / "old.txt";
  WriteText(oldFile, "old pass");
  const std::vector<std::string> args = {
      "convert", "--passphrase-file", oldFile, "--to-passphrase", "--work-factor", "10", source,
      target};
  CliResult r = RunCliOnTerminal(args, {{"New age passphrase", "one\n"}, {"Retype", "two\n"}});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("differ"), std::string::npos) << r.out;
  EXPECT_FALSE(Exists(target));
  r = RunCliOnTerminal(args, {{"New age passphrase", "same\n"}, {"Retype", "same\n"}});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("same"), std::string::npos) << "the passphrase was echoed";
  EXPECT_EQ(
      RunCli({"convert", "--check", target, "--passphrase-env", "P"}, WithEnv({"P=same"})).status,
      0);
}

TEST_F(Convert, WrongLegacyPassphraseWritesNothingAndKeepsTheSource) {
  const Bytes plain = TextLike(100000);
  const std::string source = Legacy("legacy", plain), target = dir_ / "out.age";
  WriteText(target, "an older file");
  for (const bool deleteSource : {false, true}) {
    std::vector<std::string> args = {"-r", recipient_, source, target};
    if (deleteSource) args.insert(args.begin(), "--delete-source");
    const CliResult r = ConvertTo(args, "not the pass");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(source + ": decrypt: the decryption looks like random bytes"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(ReadText(target), "an older file");
    EXPECT_TRUE(Exists(source));
    EXPECT_EQ(ListFolder(dir_.Path()).size(), 4u);  // key, plain, legacy, target: no leftovers
  }
  // A legacy file that really holds random bytes converts with --force.
  const Bytes random = RandomBytes(5000, 9);
  const std::string noisy = Legacy("noisy", random);
  EXPECT_EQ(ConvertTo({"-r", recipient_, noisy, dir_ / "noisy.age"}).status, 1);
  const CliResult forced = ConvertTo({"--force", "-r", recipient_, noisy, dir_ / "noisy.age"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(forced.err.find("converted anyway"), std::string::npos) << forced.err;
  if (haveAge_) {
    const ToolResult back = AgeDecrypt(dir_ / "noisy.age");
    EXPECT_TRUE(back.out == std::string(random.begin(), random.end()));
  }
}

TEST_F(Convert, DeleteSourceOnlyAfterTheTargetIsInPlace) {
  const Bytes plain = TextLike(300000);
  const std::string source = Legacy("legacy", plain), target = dir_ / "out.age";
  WriteText(target, "old");
  ::chmod(target.c_str(), 0640);
  const CliResult r = ConvertTo({"--delete-source", "-r", recipient_, source, target});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(source));
  EXPECT_EQ(Mode(target), 0640u);
  EXPECT_EQ(RunCli({"convert", "--check", target, "-i", keyFile_}).status, 0);
  // A target that cannot be written keeps the source.
  const std::string again = Legacy("again", plain);
  const CliResult full = ConvertTo({"--delete-source", "-r", recipient_, again, dir_ / "no/such"});
  EXPECT_EQ(full.status, 1);
  EXPECT_TRUE(Exists(again));
  // A source given as a symbolic link is not deleted through it: as in every job, the link is
  // refused before anything is written, and scripts learn it.
  const std::string link = dir_ / "link";
  ASSERT_EQ(::symlink(again.c_str(), link.c_str()), 0);
  const CliResult linked = ConvertTo({"--delete-source", "-r", recipient_, link, dir_ / "l.age"});
  EXPECT_EQ(linked.status, 1) << linked.err;
  EXPECT_FALSE(Exists(dir_ / "l.age"));
  EXPECT_NE(linked.err.find("symbolic link"), std::string::npos) << linked.err;
  EXPECT_TRUE(Exists(again) && Exists(link));
}

TEST_F(Convert, CheckAcceptsAgeFilesAndRejectsChangedOnes) {
  REQUIRE_AGE();
  const Bytes plain = TextLike(150000);
  const std::string file = dir_ / "a.age";
  const ToolResult made =
      RunTool({"age", "-a", "-r", recipient_, "-o", file}, std::string(plain.begin(), plain.end()));
  ASSERT_EQ(made.status, 0) << made.err;
  CliResult r = RunCli({"convert", "--check", file, "-i", keyFile_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, file + ": OK (150000 bytes authenticated, armored)\n");
  r = RunCli({"convert", "--check", "-", "-i", keyFile_}, WithInput(ReadText(file)));
  EXPECT_EQ(r.status, 0) << r.err;
  std::string text = ReadText(file);
  text[text.size() / 2] = text[text.size() / 2] == 'A' ? 'B' : 'A';
  WriteText(file, text);
  r = RunCli({"convert", "--check", file, "-i", keyFile_});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("does not authenticate"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
}

// The armor is PEM with lines of exactly 64 columns, the last one shorter; age refuses any other
// wrapping, so convert --check must not call such a file intact, even where it decodes.
TEST_F(Convert, CheckRefusesArmorWrappedAtOtherWidths) {
  const std::string source = Legacy("legacy", TextLike(3000));
  const std::string file = dir_ / "a.age";
  const CliResult made = ConvertTo({"--armor", "-r", recipient_, source, file});
  ASSERT_EQ(made.status, 0) << made.err;
  ASSERT_EQ(RunCli({"convert", "--check", file, "-i", keyFile_}).status, 0);

  const std::string text = ReadText(file);
  const std::string begin = "-----BEGIN AGE ENCRYPTED FILE-----\n";
  const std::string end = "-----END AGE ENCRYPTED FILE-----\n";
  ASSERT_TRUE(text.starts_with(begin) && text.ends_with(end)) << text;
  std::string body = text.substr(begin.size(), text.size() - begin.size() - end.size());
  std::erase(body, '\n');
  // Widths that are whole groups of four, so that every line still decodes on its own.
  for (const std::size_t width : {76, 48}) {
    SCOPED_TRACE(width);
    std::string rewrapped = begin;
    for (std::size_t at = 0; at < body.size(); at += width) {
      rewrapped += body.substr(at, width) + "\n";
    }
    rewrapped += end;
    const std::string bad = dir_ / ("wrapped" + std::to_string(width) + ".age");
    WriteText(bad, rewrapped);
    const CliResult r = RunCli({"convert", "--check", bad, "-i", keyFile_});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the armor has a line of the wrong length"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    if (haveAge_) {
      EXPECT_NE(AgeDecrypt(bad).status, 0);
    }
  }
}

TEST_F(Convert, UsageErrors) {
  const std::string source = Legacy("legacy", TextLike(100));
  const std::string secret = ReadVecFile("age/keys.vec").at(0).Get("Identity");
  const std::vector<std::vector<std::string>> cases = {
      {source, dir_ / "x.age"},                                       // no recipient
      {"-r", recipient_, "--to-passphrase", source, dir_ / "x.age"},  // both kinds
      {"-r", secret, source, dir_ / "x.age"},                         // a secret key
      {"-r", recipient_, "--work-factor", "12", source, dir_ / "x.age"},
      {"--to-passphrase", "--work-factor", "23", source, dir_ / "x.age"},
      {"-r", recipient_, "--delete-source", source, "-"},
      {"-r", recipient_, source},
  };
  for (const auto& args : cases) {
    const CliResult r = ConvertTo(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.err.find(secret), std::string::npos) << "a secret key was echoed";
    EXPECT_FALSE(Exists(dir_ / "x.age"));
  }
}

// A folder of legacy files in one command: nested folders kept, each file with the key its
// settings file records or else the one given, names less .kry plus .age, settings files left
// alone, and a file under another key refused by the guard while the others are converted and
// their sources deleted.
TEST_F(Convert, FolderOfLegacyFilesInOneCommand) {
  REQUIRE_AGE();
  ASSERT_EQ(::mkdir((dir_ / "in").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir_ / "in/sub").c_str(), 0755), 0);
  struct File {
    std::string name;  // below in/
    std::string pass;
    bool settings;
    std::string age;  // below out/in/, empty when it must fail
  };
  const std::vector<File> files = {
      {"a.txt", "own pass", true, "a.txt.age"},
      {"sub/b.doc", "old pass", false, "sub/b.doc.age"},
      {"sub/c", "old pass", false, "sub/c.age"},
      {"sub/wrong", "another pass", false, ""},
  };
  std::map<std::string, Bytes> plain;
  for (const File& f : files) {
    const std::string path = dir_ / ("in/" + f.name);
    plain[f.name] = TextLike(5000 + f.name.size() * 999);
    WriteFile(path, plain[f.name]);
    // c keeps its plain name, as a legacy file without the suffix.
    const std::string legacy = f.name == "sub/c" ? path + ".tmp" : path + ".kry";
    std::vector<std::string> args = {"encrypt", "--passphrase-env", "PW", path, legacy};
    if (f.settings) args.insert(args.begin() + 1, "--save-settings");
    ASSERT_EQ(RunCli(args, WithEnv({"PW=" + f.pass})).status, 0);
    ASSERT_EQ(::unlink(path.c_str()), 0);
    if (f.name == "sub/c") {
      ASSERT_EQ(::rename(legacy.c_str(), path.c_str()), 0);
    }
  }
  const CliResult r = ConvertTo({"--use-settings", "--delete-source", "-r", recipient_,
                                 "--recursive", "--output-dir", dir_ / "out", dir_ / "in"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("3 done, 1 failed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("in/sub/wrong.kry"), std::string::npos) << r.err;
  EXPECT_EQ(ListFolder(dir_ / "out/in"), (std::set<std::string>{"a.txt.age", "sub"}));
  EXPECT_EQ(ListFolder(dir_ / "out/in/sub"), (std::set<std::string>{"b.doc.age", "c.age"}));
  for (const File& f : files) {
    SCOPED_TRACE(f.name);
    const std::string legacy = dir_ / ("in/" + f.name + (f.name == "sub/c" ? "" : ".kry"));
    if (f.age.empty()) {
      EXPECT_TRUE(Exists(legacy));
      continue;
    }
    EXPECT_FALSE(Exists(legacy));
    const ToolResult back = AgeDecrypt(dir_ / ("out/in/" + f.age));
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == std::string(plain[f.name].begin(), plain[f.name].end()));
  }
  EXPECT_TRUE(Exists(dir_ / "in/a.txt-settings.txt"));
}

// A legacy file keyed, as the Windows program did, with the first 80 characters of a longer
// pasted passphrase converts with the whole passphrase; a note says which key fitted.
TEST_F(Convert, FirstEightyCharactersOfALongPassphrase) {
  REQUIRE_AGE();
  std::string phrase;
  for (int i = 0; phrase.size() < 100; ++i) phrase += "long" + std::to_string(i) + " ";
  const Bytes plain = TextLike(5000);
  WriteFile(dir_ / "cut.plain", plain);
  ASSERT_EQ(RunCli({"encrypt", "--passphrase-env", "CUT", dir_ / "cut.plain", dir_ / "cut.kry"},
                   WithEnv({"CUT=" + phrase.substr(0, 80)}))
                .status,
            0);
  const CliResult r = ConvertTo({"-r", recipient_, dir_ / "cut.kry", dir_ / "cut.age"}, phrase);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("keyed with the first 80 characters of the passphrase"), std::string::npos)
      << r.err;
  const ToolResult back = AgeDecrypt(dir_ / "cut.age");
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_TRUE(back.out == std::string(plain.begin(), plain.end()));
}

}  // namespace
}  // namespace kryvane::test
