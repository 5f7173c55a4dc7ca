// `hash --check`: the lists `hash` writes verify, and every kind of failure is counted and named.
#include "tests/app/temp_files.h"
#include "tests/cli/run_cli.h"

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
  EXPECT_EQ(r.out, dir / "plain" + ": OK\n\\" + dir / "back\\\\slash" + ": OK\n\\" +
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
        "kryvane-cli: error: " + dir / "SUMS" + ":6: not a \"HEX  NAME\" line\n",
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

}  // namespace
}  // namespace kryvane::test
