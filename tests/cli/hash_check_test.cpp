// `hash --check`: the lists `hash` writes verify, and every kind of failure is counted and named.
#include <algorithm>
#include <cctype>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

// The tiger digest of "abc".
constexpr const char* kTigerAbc = "2aab1484e8c158f2bfb8c5ff41b57a525129131c957b5f93";

TEST(HashCheck, ListsThatHashWroteVerifyWhateverTheNames) {
  TempFolder dir;
  // Names with the characters the line format escapes, and one with a space and a star.
  const std::vector<std::string> names = {dir / "plain", dir / "back\\slash", dir / "line\nfeed",
                                          dir / "carriage\r", dir / " *star"};
  std::vector<std::string> args = {"hash", "-H", "tiger"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    WriteText(names[i], std::string(i * 1000, 'x'));
    args.push_back(names[i]);
  }
  const CliResult hashed = RunCli(args);
  ASSERT_EQ(hashed.status, 0) << hashed.err;
  WriteText(dir / "SUMS", hashed.out);

  const CliResult r = RunCli({"hash", "--check", "-H", "tiger", dir / "SUMS"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // As sha256sum -c reports them: a backslash alone is shown as it is, a line feed escaped. A
  // carriage return, which it shows raw, is escaped like every control character.
  EXPECT_EQ(r.out, dir / "plain" + ": OK\n" + dir / "back\\slash" + ": OK\n\\" +
                       dir / "line\\nfeed" + ": OK\n\\" + dir / "carriage\\r" + ": OK\n" +
                       dir / " *star" + ": OK\n");
  // The same list from standard input.
  const CliResult piped = RunCli({"hash", "--check", "-H", "tiger"}, WithInput(hashed.out));
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, r.out);
}

TEST(HashCheck, ChangedMissingAndMalformedLinesFail) {
  TempFolder dir;
  WriteText(dir / "same", "abc");
  WriteText(dir / "changed", "abd");
  WriteText(dir / "binary", "abc");
  const std::string list =
      std::string(kTigerAbc) + "  " + dir / "same" + "\n" +            // OK
      "# a comment, and an empty line\n\n" +                           // skipped
      kTigerAbc + "  " + dir / "changed" + "\n" +                      // FAILED
      kTigerAbc + "  " + dir / "missing" + "\n" +                      // cannot be read
      "not a digest line\n" +                                          // malformed (line 6)
      std::string(kTigerAbc).substr(2) + "  " + dir / "same" + "\n" +  // wrong length (line 7)
      "2AAB1484E8C158F2BFB8C5FF41B57A525129131C957B5F93 *" + dir / "binary" + "\r\n";  // OK
  WriteText(dir / "SUMS", list);

  const CliResult r = RunCli({"hash", "--check", "-H", "tiger", dir / "SUMS"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, dir / "same" + ": OK\n" + dir / "changed" + ": FAILED\n" + dir / "missing" +
                       ": FAILED open or read\n" + dir / "binary" + ": OK\n");
  for (const std::string& text :
       {"kryvane-cli: error: " + dir / "missing" + ": open: No such file or directory\n",
        "kryvane-cli: error: " + dir / "SUMS" +
            ":6: not a \"HEX  NAME\" or \"TAG (NAME) = HEX\" line\n",
        "kryvane-cli: error: " + dir / "SUMS" +
            ":7: a digest of 46 hex digits, but tiger gives 48\n",
        std::string("kryvane-cli: warning: 1 computed digest did NOT match\n"),
        std::string("kryvane-cli: warning: 1 listed file could not be read\n"),
        std::string("kryvane-cli: warning: 2 lines are improperly formatted\n")}) {
    EXPECT_NE(r.err.find(text), std::string::npos) << text << "\nin:\n" << r.err;
  }

  // Each kind of failure alone fails the check.
  for (const std::string& bad :
       {std::string(kTigerAbc) + "  " + dir / "changed\n",
        std::string(kTigerAbc) + "  " + dir / "missing\n", std::string("zz  ") + dir / "same\n"}) {
    WriteText(dir / "ONE", std::string(kTigerAbc) + "  " + dir / "same\n" + bad);
    EXPECT_EQ(RunCli({"hash", "--check", "-H", "tiger", dir / "ONE"}).status, 1) << bad;
  }
}

TEST(HashCheck, AListOfAnotherHashSaysSo) {
  TempFolder dir;
  WriteText(dir / "same", "abc");
  WriteText(dir / "SUMS", std::string(kTigerAbc) + "  " + dir / "same\n");
  const CliResult r = RunCli({"hash", "--check", "-H", "sha1", dir / "SUMS"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("kryvane-cli: error: no digest lines of sha1 to check\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("kryvane-cli: hint: -H names the hash"), std::string::npos) << r.err;

  const CliResult missing = RunCli({"hash", "--check", "-H", "tiger", dir / "NOLIST"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(dir / "NOLIST" + ": open: No such file or directory"),
            std::string::npos)
      << missing.err;
  EXPECT_EQ(RunCli({"hash", "--check", "-H", "tiger"}, WithInput("")).status, 1);
}

// coreutils writes and checks the same lists for the hashes both have: `hash` writes the lines of
// md5sum and the sha*sum tools byte for byte, `--check` reads theirs in both forms (with --tag,
// and from cksum) and reports each file as they do.
TEST(HashCheck, AgreesWithCoreutils) {
  if (!HaveProgram("sha256sum") || !HaveProgram("cksum")) {
    GTEST_SKIP() << "coreutils' sha256sum and cksum are not installed";
  }
  TempFolder dir;
  // Names that need escaping, a tab that the *sum tools leave as it is, and a ") = " that the BSD
  // form must not stop at.
  const std::vector<std::string> names = {dir / "plain",  dir / "back\\slash", dir / "line\nfeed",
                                          dir / " *star", dir / "a) = (b",     dir / "tab\there",
                                          dir / "cr\r"};
  for (std::size_t i = 0; i < names.size(); ++i) WriteText(names[i], std::string(i * 700, 'y'));
  // coreutils shows a carriage return in a checked name raw; kryvane-cli escapes it.
  const std::vector<std::string> shownAlike(names.begin(), names.end() - 1);
  const auto with = [](std::vector<std::string> args, const std::vector<std::string>& files) {
    args.insert(args.end(), files.begin(), files.end());
    return args;
  };
  for (const std::string hash : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
    SCOPED_TRACE(hash);
    const std::string tool = hash + "sum";
    const CliResult ours = RunCli(with({"hash", "-H", hash}, names));
    const ToolResult theirs = RunTool(with({tool}, names));
    ASSERT_EQ(theirs.status, 0) << theirs.err;
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_EQ(ours.out, theirs.out);

    std::string upper = hash;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    const ToolResult tagged = RunTool(with({tool, "--tag"}, shownAlike));
    const ToolResult cksum = RunTool(with({"cksum", "-a", hash}, shownAlike));
    ASSERT_EQ(tagged.status, 0) << tagged.err;
    ASSERT_EQ(cksum.status, 0) << cksum.err;
    EXPECT_TRUE(tagged.out.starts_with(upper + " (")) << tagged.out;
    const ToolResult plain = RunTool(with({tool}, shownAlike));
    WriteText(dir / "SUMS", plain.out);
    const ToolResult reference = RunTool({tool, "-c", dir / "SUMS"});
    ASSERT_EQ(reference.status, 0) << reference.err;
    for (const std::string& list : {plain.out, tagged.out, cksum.out}) {
      const CliResult r = RunCli({"hash", "--check", "-H", hash}, WithInput(list));
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, reference.out) << list;
    }
  }

  // A changed file fails in the BSD form too, and a list of another hash says which -H fits.
  const ToolResult tagged = RunTool({"sha256sum", "--tag", names[0], names[1]});
  WriteText(names[1], "changed");
  const CliResult changed = RunCli({"hash", "--check", "-H", "sha256"}, WithInput(tagged.out));
  EXPECT_EQ(changed.status, 1);
  EXPECT_EQ(changed.out, names[0] + ": OK\n" + names[1] + ": FAILED\n");
  const CliResult other = RunCli({"hash", "--check", "-H", "sha1"}, WithInput(tagged.out));
  EXPECT_EQ(other.status, 1);
  EXPECT_EQ(other.out, "");
  EXPECT_NE(other.err.find("standard input:1: a line of SHA256, but this check is of sha1"),
            std::string::npos)
      << other.err;
  EXPECT_NE(other.err.find("hint: the list is of SHA256: check it with -H sha256"),
            std::string::npos)
      << other.err;
  // A hash that coreutils lacks has no BSD form to be read in.
  const CliResult tiger = RunCli({"hash", "--check", "-H", "tiger"},
                                 WithInput("TIGER (" + names[0] + ") = " + kTigerAbc + "\n"));
  EXPECT_EQ(tiger.status, 1);
  EXPECT_EQ(tiger.out, "");
}

// The list is read a line at a time: a line beyond any digest line's length ends the list with a
// message, not with the whole of it in memory, and an endless one ends too.
TEST(HashCheck, AListIsReadALineAtATime) {
  TempFolder dir;
  WriteText(dir / "same", "abc");
  const std::string good = std::string(kTigerAbc) + "  " + dir / "same\n";
  const CliResult longLine = RunCli({"hash", "--check", "-H", "tiger"},
                                    WithInput(good + std::string(100000, 'a') + "\n" + good));
  EXPECT_EQ(longLine.status, 1);
  EXPECT_EQ(longLine.out, dir / "same" + ": OK\n");
  EXPECT_NE(longLine.err.find("standard input:2: a line of more than 64 KiB"), std::string::npos)
      << longLine.err;
  EXPECT_EQ(longLine.err.find("passphrase"), std::string::npos) << longLine.err;

  const CliResult endless = RunCli({"hash", "--check", "-H", "tiger", "/dev/zero"});
  EXPECT_EQ(endless.status, 1);
  EXPECT_NE(endless.err.find("/dev/zero:1: a line of more than 64 KiB"), std::string::npos)
      << endless.err;

  // A list larger than any buffer, and a last line without its line end.
  std::string many;
  for (int i = 0; i < 3000; ++i) many += good;
  many.pop_back();
  WriteText(dir / "SUMS", many);
  const CliResult r = RunCli({"hash", "--check", "-H", "tiger", dir / "SUMS"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3000);
}

}  // namespace
}  // namespace kryvane::test

namespace kryvane::test {
namespace {

// Files hashed on several threads come out in the order given, failures included, exactly as
// one at a time; so do their checks.
TEST(HashCheck, ParallelHashingKeepsTheOrderOfTheFiles) {
  TempFolder dir;
  std::vector<std::string> args = {"hash", "-H", "sha256"};
  for (int i = 0; i < 24; ++i) {
    std::string leaf = "f";
    leaf += std::to_string(i);
    const std::string name = dir / leaf;
    // Large and small files alternate, so that later files tend to finish first.
    if (i != 9) WriteText(name, std::string(i % 2 == 0 ? 300000 + i : i, char('a' + i)));
    args.push_back(name);  // f9 does not exist
  }
  std::vector<std::string> one = args, many = args;
  one.insert(one.begin() + 1, {"-j", "1"});
  many.insert(many.begin() + 1, {"-j", "4"});
  const CliResult serial = RunCli(one), parallel = RunCli(many);
  EXPECT_EQ(serial.status, 1);
  EXPECT_EQ(parallel.status, serial.status);
  EXPECT_EQ(parallel.out, serial.out);
  EXPECT_EQ(parallel.err, serial.err);
  EXPECT_NE(serial.err.find("f9"), std::string::npos) << serial.err;

  WriteText(dir / "SUMS", serial.out + std::string(64, '0') + "  " + dir / "f9" + "\n");
  const CliResult checkOne = RunCli({"hash", "--check", "-j", "1", "-H", "sha256", dir / "SUMS"});
  const CliResult checkMany = RunCli({"hash", "--check", "-j", "3", "-H", "sha256", dir / "SUMS"});
  EXPECT_EQ(checkMany.out, checkOne.out);
  EXPECT_EQ(checkMany.err, checkOne.err);
  EXPECT_EQ(checkMany.status, checkOne.status);
}

// The path ceiling set from outside: no path above it is shown, and at portable every one is.
TEST(HashCheck, ListPathsObeysTheCeilingOfTheEnvironment) {
  for (const std::string ceiling : {"portable", "sse"}) {
    std::string variable = "KRYVANE_CPU_PATH=", shown = "highest allowed: ";
    variable += ceiling;
    shown += ceiling;
    const CliResult r = RunCli({"list", "--paths"}, WithEnv({variable}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("avx2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("avx512"), std::string::npos) << r.out;
    if (ceiling == "portable") {
      EXPECT_EQ(r.out.find(" sse "), std::string::npos) << r.out;
    }
    EXPECT_NE(r.out.find("sha256"), std::string::npos);
    EXPECT_NE(r.out.find("serpent"), std::string::npos);
  }
}

}  // namespace
}  // namespace kryvane::test
