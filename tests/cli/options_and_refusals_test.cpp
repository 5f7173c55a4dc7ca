// Promises of kryvane-cli that scripts rely on: the defaults, every way to name an algorithm or
// give a passphrase, the self-test, a kept file mode and the same-file refusal through a shell
// redirection.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "app/catalogue.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

// The Base64 line `text encrypt` prints for "probe" under the given options.
std::string TextEncrypt(std::vector<std::string> options, const std::vector<std::string>& env) {
  std::vector<std::string> args = {"text", "encrypt"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("probe");
  const CliResult r = RunCli(args, WithEnv(env));
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

TEST(CliOptions, DefaultsAreBlowfishAndHaval) {
  EXPECT_EQ(TextEncrypt({"--passphrase-env", "KPW"}, {"KPW=pw"}),
            TextEncrypt({"-c", "blowfish", "-H", "haval", "--passphrase-env", "KPW"}, {"KPW=pw"}));
}

// Position, short name (any case) and menu text name the same entry.
TEST(CliOptions, EveryEntryByPositionNameAndMenuText) {
  const auto ciphers = CipherCatalogue();
  const auto hashes = HashCatalogue();
  std::set<std::string> distinct;
  for (std::size_t i = 0; i < std::max(ciphers.size(), hashes.size()); ++i) {
    const CipherEntry& c = ciphers[i % ciphers.size()];
    const HashEntry& h = hashes[i % hashes.size()];
    SCOPED_TRACE(std::string(c.shortName) + "/" + std::string(h.shortName));
    const std::string byName = TextEncrypt(
        {"-c", std::string(c.shortName), "-H", std::string(h.shortName), "--passphrase-env", "KPW"},
        {"KPW=pw"});
    EXPECT_EQ(TextEncrypt({"-c", std::to_string(c.position), "-H", std::to_string(h.position),
                           "--passphrase-env", "KPW"},
                          {"KPW=pw"}),
              byName);
    std::string upper(c.shortName);
    for (char& ch : upper) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(TextEncrypt({"-c", upper, "-H", std::string(h.menuText), "--passphrase-env", "KPW"},
                          {"KPW=pw"}),
              byName);
    distinct.insert(byName);
  }
  EXPECT_EQ(distinct.size(), std::max(ciphers.size(), hashes.size()));
}

// Each way of giving a passphrase, and the passphrase it must amount to.
TEST(CliOptions, PassphraseFromFilesAndSettings) {
  struct Case {
    const char* option;  // --passphrase-file or --settings
    std::string content;
    std::string same;  // the passphrase it means
  };
  const auto settings = [](const std::string& value) {
    return "[Settings]\r\nPhrase=" + value + "\r\nCipher=blowfish\r\nHash=haval\r\n";
  };
  const Case cases[] = {
      {"--passphrase-file", "pw", "pw"},
      {"--passphrase-file", "pw\n", "pw"},
      {"--passphrase-file", "pw\r\n", "pw"},
      {"--passphrase-file", "pw\n\n", "pw\n"},
      {"--passphrase-file", "pw\r\n\r\n", "pw\r\n"},
      {"--passphrase-file", "pw\r", "pw\r"},
      {"--passphrase-file", " pw \n", " pw "},
      {"--settings", settings("pw"), "pw"},
      {"--settings", settings("\"pw\""), "pw"},
      {"--settings", settings("'pw'"), "pw"},
      {"--settings", settings("' pw '"), " pw "},
      {"--settings", settings("\"p'w\""), "p'w"},
      {"--settings", settings("'pw\""), "'pw\""},
  };
  TempFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " " + c.content);
    WriteText(dir / "source", c.content);
    EXPECT_EQ(TextEncrypt({"-c", "blowfish", "-H", "haval", c.option, dir / "source"}, {}),
              TextEncrypt({"-c", "blowfish", "-H", "haval", "--passphrase-env", "KPW"},
                          {"KPW=" + c.same}));
  }
}

TEST(CliOptions, SelftestRunsEveryCipherAndHash) {
  const CliResult r = RunCli({"selftest"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::set<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = r.out.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.insert(r.out.substr(start, nl - start));
  }
  for (const CipherEntry& c : CipherCatalogue()) {
    EXPECT_TRUE(lines.contains("PASS  " + std::string(c.cipher.algorithm))) << c.shortName;
  }
  for (const HashEntry& h : HashCatalogue()) {
    EXPECT_TRUE(lines.contains("PASS  " + std::string(h.hash.algorithm))) << h.shortName;
  }
}

// A class that fails its known answer fails the command: the same program, linked with Tea's
// self-test failing (tests/cli_faults/), names it and exits 1, and still tries every other class.
TEST(CliOptions, SelftestFailsWhenAClassFailsItsKnownAnswer) {
  const ToolResult r = RunProcess({KRYVANE_CLI_KAT_FAULT_PATH, "selftest"});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("FAIL  Tea\n"), std::string::npos) << r.out;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'),
            std::ptrdiff_t(CipherCatalogue().size() + HashCatalogue().size()))
      << r.out;
  std::size_t passed = 0;
  for (std::size_t at = 0; (at = r.out.find("PASS  ", at)) != std::string::npos; ++at) ++passed;
  EXPECT_EQ(passed, CipherCatalogue().size() + HashCatalogue().size() - 1) << r.out;
}

// `encrypt f - >> f` and `decrypt - f < f` would read what they write.
TEST(CliRefusals, SameFileThroughStandardInputOrOutput) {
  TempFolder dir;
  const std::string f = dir / "f";
  const Bytes data = RandomBytes(5000, 3);
  WriteFile(f, data);
  const std::vector<std::string> base = {"-c",    "blowfish",         "-H",
                                         "haval", "--passphrase-env", "KPW"};
  std::vector<std::string> toStdout = {"encrypt"}, fromStdin = {"decrypt"};
  toStdout.insert(toStdout.end(), base.begin(), base.end());
  fromStdin.insert(fromStdin.end(), base.begin(), base.end());
  toStdout.insert(toStdout.end(), {f, "-"});
  fromStdin.insert(fromStdin.end(), {"-", f});

  CliResult r = RunRedirected(toStdout, "", f, 022);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(f), data);

  r = RunRedirected(fromStdin, f, "", 022);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("same file"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(f), data);
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"f"});
}

// A replaced target keeps its mode, also one the umask would not give a new file.
TEST(CliRefusals, ReplacedTargetKeepsItsMode) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  // A source open to all, so that the rule that a target is never more open than its source
  // takes nothing away here.
  ASSERT_EQ(::chmod((dir / "plain").c_str(), 0666), 0);
  for (mode_t mode : {mode_t(0644), mode_t(0600), mode_t(0664)}) {
    SCOPED_TRACE(mode);
    WriteText(dir / "enc", "old");
    ASSERT_EQ(::chmod((dir / "enc").c_str(), mode), 0);
    const CliResult r = RunRedirected({"encrypt", "-c", "blowfish", "-H", "haval",
                                       "--passphrase-env", "KPW", dir / "plain", dir / "enc"},
                                      "", "", mode == 0600 ? 022 : 077);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "enc").size(), 4u);
    EXPECT_EQ(Mode(dir / "enc"), mode);
  }
}

}  // namespace
}  // namespace kryvane::test
