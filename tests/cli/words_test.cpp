// The words of kryvane-cli's usage errors, its version and its name lists.
#include <gtest/gtest.h>

#include "app/catalogue.h"
#include "kryvane/version.h"
#include "tests/cli/run_cli.h"

namespace kryvane::test {
namespace {

TEST(CliWords, UnknownCommandNamesItAndListsTheCommands) {
  struct Case {
    std::vector<std::string> args;
    std::string error, hint;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"},
       "unknown command 'frobnicate'",
       "the commands of 'kryvane-cli' are encrypt, decrypt, identify, hash, text, list, selftest"},
      {{}, "a command is required", "encrypt, decrypt, identify, hash, text, list, selftest"},
      {{"text", "frob"},
       "unknown command 'frob'",
       "the commands of 'kryvane-cli text' are encrypt, decrypt"},
      {{"--frob"}, "unknown option '--frob'", "--help"},
      // Help or the version asked beside an unknown word must not pass for success.
      {{"frobnicate", "--help"},
       "unknown command 'frobnicate'",
       "the commands of 'kryvane-cli' are encrypt"},
      {{"--version", "frobnicate"}, "unknown command 'frobnicate'", "are encrypt"},
      {{"text", "frob", "--help"},
       "unknown command 'frob'",
       "the commands of 'kryvane-cli text' are encrypt, decrypt"},
      {{"--frob", "-h"}, "unknown option '--frob'", "--help"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CliResult r = RunCli(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("kryvane-cli: error: " + c.error + "\n")) << r.err;
    EXPECT_NE(r.err.find("kryvane-cli: hint: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.hint), std::string::npos) << r.err;
  }
}

TEST(CliWords, ExtraArgumentsInTheOrderGiven) {
  CliResult r = RunCli({"selftest", "third", "fourth", "fifth"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(
      r.err.starts_with("kryvane-cli: error: unexpected arguments 'third' 'fourth' 'fifth'\n"))
      << r.err;
  r = RunCli({"list", "ciphers", "more"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(r.err.starts_with("kryvane-cli: error: unexpected argument 'more'\n")) << r.err;
}

TEST(CliWords, VersionIsTheBuildsVersion) {
  const CliResult r = RunCli({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("kryvane-cli ") + KRYVANE_VERSION + "\n");
}

TEST(CliWords, ListNamesIsTheCatalogue) {
  std::string ciphers, hashes;
  for (const CipherEntry& e : CipherCatalogue()) ciphers += std::string(e.shortName) + "\n";
  for (const HashEntry& e : HashCatalogue()) hashes += std::string(e.shortName) + "\n";
  EXPECT_EQ(RunCli({"list", "--names", "ciphers"}).out, ciphers);
  EXPECT_EQ(RunCli({"list", "--names", "hashes"}).out, hashes);
  EXPECT_EQ(RunCli({"list", "--names"}).out, ciphers + hashes);
  EXPECT_EQ(RunCli({"list", "--names", "modes"}).status, 2);
}

}  // namespace
}  // namespace kryvane::test
