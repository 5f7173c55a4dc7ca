// kryvane-cli as a user runs it: exit statuses, messages, files, pipes, passphrase sources.
#include <fcntl.h>
#include <sys/stat.h>

#include "app/catalogue.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

// The first cipher and hash of the menus, by short name and menu text.
struct Names {
  std::string cipher, hash, cipherMenu, hashMenu;
};

const Names& First() {
  static const Names names{std::string(CipherCatalogue().front().shortName),
                           std::string(HashCatalogue().front().shortName),
                           std::string(CipherCatalogue().front().menuText),
                           std::string(HashCatalogue().front().menuText)};
  return names;
}

std::vector<std::string> Job(const std::string& command, std::vector<std::string> rest) {
  std::vector<std::string> args = {command, "-c", First().cipher, "-H", First().hash};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

std::string Str(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

void ExpectError(const CliResult& r, int status, const std::vector<std::string>& mentions) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(r.err.starts_with("kryvane-cli: error: ")) << r.err;
  for (const std::string& m : mentions) EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
}

TEST(Cli, HelpOnEverySubcommand) {
  const std::vector<std::vector<std::string>> commands = {
      {},       {"encrypt"},  {"decrypt"},         {"hash"},           {"text"},
      {"list"}, {"selftest"}, {"text", "encrypt"}, {"text", "decrypt"}};
  for (auto args : commands) {
    args.push_back("--help");
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << args.front();
    EXPECT_NE(r.out.find("Usage: kryvane-cli"), std::string::npos) << r.out;
  }
  EXPECT_NE(RunCli({"encrypt", "--help"}).out.find("--passphrase-file"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWith2) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  const std::string p = dir / "plain", t = dir / "enc";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"encrypt", p},
      {"encrypt", "--passphrase", "x", p, t},
      {"encrypt", "-c", "nonesuch", "--passphrase-env", "HOME", p, t},
      {"encrypt", "-H", "10", "--passphrase-env", "HOME", p, t},
      {"encrypt", "--encoding", "latin1", "--passphrase-env", "HOME", p, t},
      {"encrypt", "--passphrase-env", "HOME", "--passphrase-file", p, p, t},
      {"encrypt", "--passphrase-env", "HOME", "--delete-source", "-", t},
      {"encrypt", "--passphrase-env", "HOME", "--save-settings", "-", t},
      {"encrypt", "--passphrase-env", "HOME", "--progress", "--no-progress", p, t},
      {"decrypt", "--passphrase-env", "HOME", "--save-settings", p, t},
      {"encrypt", "--passphrase-file", "-", "-", t},
      {"encrypt", "--passphrase-file", "", p, t},
      {"decrypt", "--settings", "", p, t},
      {"encrypt", "--passphrase-env", "HOME", "--delete-source", p, "-"},
      {"text", "--passphrase-env", "HOME"},
  };
  for (auto args : cases) {
    if (args.size() > 1 && args[0] != "text") {
      args.insert(args.begin() + 1, {"-c", First().cipher, "-H", First().hash});
    }
    const CliResult r = RunCli(args);
    ExpectError(r, 2, {});
    EXPECT_NE(r.err.find("kryvane-cli: hint: "), std::string::npos) << r.err;
  }
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"plain"});
}

TEST(Cli, EveryPassphraseSourceGivesTheSameFile) {
  TempFolder dir;
  const Bytes plain = RandomBytes(20000, 11);
  WriteFile(dir / "plain", plain);
  WriteText(dir / "pw-lf", "s3cret\n");
  WriteText(dir / "pw-crlf", "s3cret\r\n");

  CliResult r =
      RunCli(Job("encrypt", {"--passphrase-file", dir / "pw-lf", dir / "plain", dir / "a"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty() && r.err.empty()) << "not quiet: " << r.out << r.err;
  const Bytes a = ReadFile(dir / "a");
  ASSERT_EQ(a.size(), plain.size());

  r = RunCli(Job("encrypt", {"--passphrase-file", dir / "pw-crlf", dir / "plain", dir / "b"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "b"), a);
  r = RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", dir / "c"}),
             WithEnv({"KPW=s3cret"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "c"), a);
  r = RunCli(Job("encrypt", {"--passphrase-file", "-", dir / "plain", dir / "d"}),
             WithInput("s3cret\n"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "d"), a);

  // The settings file an encryption wrote decrypts without naming anything else.
  r = RunCli(
      Job("encrypt", {"--passphrase-env", "KPW", "--save-settings", dir / "plain", dir / "e"}),
      WithEnv({"KPW=s3cret"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "e"), a);
  r = RunCli({"decrypt", "--settings", dir / "plain-settings.txt", dir / "e", dir / "back"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "back"), plain);

  // A different passphrase gives a different file (and decrypts silently into garbage).
  r = RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", dir / "f"}),
             WithEnv({"KPW=s3cret "}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "f"), a);
}

TEST(Cli, PipesOnBothEnds) {
  TempFolder dir;
  const Bytes plain = RandomBytes(50000, 12);
  WriteFile(dir / "plain", plain);
  const std::vector<std::string> env = {"KPW=pipe"};
  ASSERT_EQ(
      RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", dir / "enc"}), WithEnv(env))
          .status,
      0);
  CliResult r =
      RunCli(Job("encrypt", {"--passphrase-env", "KPW", "-", "-"}), WithEnv(env, Str(plain)));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, Str(ReadFile(dir / "enc")));
  r = RunCli(Job("decrypt", {"--passphrase-env", "KPW", "-", dir / "back"}), WithEnv(env, r.out));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "back"), plain);
}

TEST(Cli, FailuresNameTheFileAndTheCause) {
  TempFolder dir;
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  WriteText(dir / "plain", "data");
  WriteText(dir / "secret", "data");
  ASSERT_EQ(::chmod((dir / "secret").c_str(), 0), 0);
  ASSERT_EQ(::symlink("plain", (dir / "link").c_str()), 0);
  ASSERT_EQ(::link((dir / "plain").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0777), 0);
  const std::vector<std::string> env = {"KPW=pw"};
  struct Case {
    std::string source, target;
    std::vector<std::string> mentions;
  };
  const std::vector<Case> cases = {
      {dir / "missing", dir / "enc", {dir / "missing", "No such file or directory"}},
      {dir / "secret", dir / "enc", {dir / "secret", "Permission denied"}},
      {dir / "plain", "/dev/full", {dir / "plain", "not a regular file"}},
      {dir / "plain", "/dev/null", {dir / "plain", "not a regular file"}},
      {dir / "plain", dir / "plain-settings.txt", {dir / "plain-settings.txt", "settings file"}},
      {dir / "plain", dir / "plain", {"same file"}},
      {dir / "plain", dir / "link", {dir / "link", "same file"}},
      {dir / "plain", dir / "hard", {dir / "hard", "same file"}},
      {dir / "plain", dir / "sub", {dir / "sub", "Is a directory"}},
      {dir / "plain", dir / "none/enc", {dir / "none/enc", "No such file or directory"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source + " -> " + c.target);
    const CliResult r = RunCli(Job("encrypt", {"--passphrase-env", "KPW", "--delete-source",
                                               "--save-settings", c.source, c.target}),
                               WithEnv(env, {}, true));
    ExpectError(r, 1, c.mentions);
  }
  EXPECT_EQ(ReadText(dir / "plain"), "data");
  EXPECT_EQ(ListFolder(dir.Path()),
            (std::set<std::string>{"plain", "secret", "link", "hard", "sub"}));
  EXPECT_TRUE(ListFolder(dir / "sub").empty());

  ExpectError(
      RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", "/dev/full"}), WithEnv(env)),
      1, {"/dev/full", "No space left on device"});
  // A settings file records no encoding: one that keys this passphrase unlike the automatic
  // encoding would make it decrypt into garbage.
  ExpectError(RunCli(Job("encrypt", {"--passphrase-env", "KPW", "--encoding", "utf-8",
                                     "--save-settings", dir / "plain", dir / "e"}),
                     WithEnv({"KPW=caf\xC3\xA9"})),
              1, {dir / "plain-settings.txt", "encoding"});
  ExpectError(RunCli(Job("encrypt", {"--passphrase-env", "UNSET_VAR_X", dir / "plain", dir / "e"})),
              1, {"UNSET_VAR_X"});
  ExpectError(RunCli(Job("encrypt", {dir / "plain", dir / "e"})), 1, {"no passphrase given"});
  ExpectError(RunCli(Job("encrypt", {"--passphrase-env", "KPW", "--encoding", "cp1252",
                                     dir / "plain", dir / "e"}),
                     WithEnv({"KPW=\xCE\xA9"})),
              1, {"Windows-1252"});
  EXPECT_FALSE(Exists(dir / "e"));
}

// A settings file written on Windows: Windows-1252, menu texts unquoted (so their trailing spaces
// are lost on reading), "café" keyed as the byte E9 whatever the terminal's encoding.
TEST(Cli, WindowsSettingsFile) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  ASSERT_EQ(RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", dir / "enc"}),
                   WithEnv({"KPW=caf\xC3\xA9"}))
                .status,
            0);
  WriteText(dir / "win.txt", "[Settings]\r\nPhrase=caf\xE9\r\nCipher=" + First().cipherMenu +
                                 " \r\nHash=" + First().hashMenu + "\r\n");
  const CliResult r = RunCli({"decrypt", "--settings", dir / "win.txt", dir / "enc", dir / "back"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "back"), "data");

  // A menu text that lost its trailing spaces still names its entry.
  const CliResult des =
      RunCli({"encrypt", "-c", "DES - block: 64 bits, key: 64 bits", "-H", First().hash,
              "--passphrase-env", "KPW", dir / "plain", dir / "des"},
             WithEnv({"KPW=x"}));
  EXPECT_EQ(des.status, 0) << des.err;
}

TEST(Cli, DeleteSourceOnlyOnSuccess) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  const std::vector<std::string> env = {"KPW=pw"};
  CliResult r = RunCli(Job("encrypt", {"--passphrase-env", "KPW", "--delete-source", dir / "plain",
                                       dir / "none/enc"}),
                       WithEnv(env));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Exists(dir / "plain"));
  r = RunCli(
      Job("encrypt", {"--passphrase-env", "KPW", "--delete-source", dir / "plain", dir / "enc"}),
      WithEnv(env));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(dir / "plain"));
  EXPECT_EQ(ReadFile(dir / "enc").size(), 4u);
}

TEST(Cli, SettingsFileContentQuotingAndUpdate) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  WriteText(dir / "pw", " spaced pass \n");
  CliResult r = RunCli(Job(
      "encrypt", {"--passphrase-file", dir / "pw", "--save-settings", dir / "plain", dir / "e"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "plain-settings.txt"),
            "[Settings]\r\nPhrase=\" spaced pass \"\r\nCipher=" + First().cipherMenu +
                "\r\nHash=" + First().hashMenu + "\r\n");
  EXPECT_EQ(Mode(dir / "plain-settings.txt"), 0600u);

  // An existing file with LF line ends and other entries is updated in place.
  WriteText(dir / "plain-settings.txt", "[Settings]\nPhrase=old\nMine=1\n[More]\nx=y\n");
  r = RunCli(
      Job("encrypt", {"--passphrase-env", "KPW", "--save-settings", dir / "plain", dir / "e"}),
      WithEnv({"KPW=new"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "plain-settings.txt"),
            "[Settings]\nPhrase=new\nMine=1\nCipher=" + First().cipherMenu +
                "\nHash=" + First().hashMenu + "\n[More]\nx=y\n");

  // Decryption never writes one.
  r = RunCli(Job("decrypt", {"--passphrase-env", "KPW", dir / "e", dir / "d"}),
             WithEnv({"KPW=new"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Exists(dir / "e-settings.txt"));
}

TEST(Cli, PassphraseAskedTwiceOnTheTerminalWithoutEcho) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  ASSERT_EQ(RunCli(Job("encrypt", {"--passphrase-env", "KPW", dir / "plain", dir / "ref"}),
                   WithEnv({"KPW=Hidden-Word"}))
                .status,
            0);
  CliResult r = RunCliOnTerminal(
      Job("encrypt", {dir / "plain", dir / "enc"}),
      {{"Passphrase: ", "Hidden-Word\n"}, {"Retype passphrase: ", "Hidden-Word\n"}});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find("Hidden-Word"), std::string::npos) << "echoed: " << r.out;
  EXPECT_EQ(ReadFile(dir / "enc"), ReadFile(dir / "ref"));

  r = RunCliOnTerminal(
      Job("encrypt", {dir / "plain", dir / "enc2"}),
      {{"Passphrase: ", "Hidden-Word\n"}, {"Retype passphrase: ", "hidden-word\n"}});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kryvane-cli: error: the two passphrases differ"), std::string::npos)
      << r.out;
  EXPECT_FALSE(Exists(dir / "enc2"));
}

TEST(Cli, ProgressBarOnRequest) {
  TempFolder dir;
  WriteFile(dir / "plain", RandomBytes(3 << 20, 13));
  CliResult r =
      RunCli(Job("encrypt", {"--passphrase-env", "KPW", "--progress", dir / "plain", dir / "enc"}),
             WithEnv({"KPW=pw"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("error"), std::string::npos) << r.err;
}

// Ctrl-C, SIGTERM or SIGHUP in the middle of a job: the job stops, removes its temporary file and
// keeps the source. Even a kill leaves no temporary file where the folder allows unnamed files.
TEST(Cli, SignalsStopTheJobLeavingNoTrace) {
  TempFolder dir;
  {
    // Far too large to finish before the signal: the job must stop part way.
    const int fd = ::open((dir / "big").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 40), 0);
    ::close(fd);
  }
  const int probe = ::open(dir.Path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  const bool unnamed = probe >= 0;
  if (probe >= 0) ::close(probe);
  struct Case {
    int signal;
    const char* command;
  };
  const Case cases[] = {
      {SIGINT, "encrypt"}, {SIGTERM, "decrypt"}, {SIGHUP, "encrypt"}, {SIGKILL, "decrypt"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    if (c.signal == SIGKILL && !unnamed) continue;
    CliProcess cli(Job(c.command, {"--passphrase-env", "KPW", "--progress", "--delete-source",
                                   dir / "big", dir / "out"}),
                   {"KPW=pw"});
    ASSERT_TRUE(cli.AwaitError("MiB", 60000)) << "no progress shown";
    cli.Signal(c.signal);
    const CliResult& r = cli.Finish(60000);
    if (c.signal == SIGKILL) {
      EXPECT_EQ(r.status, 128 + SIGKILL);
    } else {
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_NE(r.err.find("kryvane-cli: error: "), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"big"});
  }
}

// `text` checks its options before it reads its text: a mistake does not wait for the end of
// standard input (which here never comes).
TEST(Cli, TextChecksOptionsBeforeReadingInput) {
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"text", "encrypt", "-c", "nonesuch", "--passphrase-env", "KPW"}, 2},
      {{"text", "decrypt", "--passphrase-env", "UNSET_VAR_X"}, 1},
      {{"text", "encrypt", "--encoding", "cp1252", "--passphrase-env", "KPW"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[3]);
    CliProcess cli(c.args, {"KPW=\xCE\xA9"});
    const CliResult& r = cli.Finish(30000);
    ExpectError(r, c.status, {});
  }
}

TEST(Cli, HashPrintsDigestLines) {
  TempFolder dir;
  WriteText(dir / "abc", "abc");
  const CliResult r =
      RunCli({"hash", "-H", "sha1", dir / "abc", dir / "missing", "-"}, WithInput("abc"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "a9993e364706816aba3e25717850c26c9cd0d89d  " + dir / "abc" +
                       "\na9993e364706816aba3e25717850c26c9cd0d89d  -\n");
  EXPECT_NE(r.err.find(dir / "missing"), std::string::npos) << r.err;
  EXPECT_EQ(RunCli({"hash", "-H", "sha1"}, WithInput("")).out,
            "da39a3ee5e6b4b0d3255bfef95601890afd80709  -\n");
}

TEST(Cli, TextRoundTrip) {
  const std::vector<std::string> env = {"KPW=pw"};
  const std::string text = "Attack at dawn, caf\xC3\xA9";
  CliResult enc = RunCli({"text", "encrypt", "-c", First().cipher, "-H", First().hash,
                          "--passphrase-env", "KPW", text},
                         WithEnv(env));
  ASSERT_EQ(enc.status, 0) << enc.err;
  ASSERT_TRUE(enc.out.ends_with("\n"));
  const std::string base64 = enc.out.substr(0, enc.out.size() - 1);
  EXPECT_EQ(base64.size(), 4 * ((text.size() + 2) / 3));
  CliResult fromStdin = RunCli(
      {"text", "encrypt", "-c", First().cipher, "-H", First().hash, "--passphrase-env", "KPW"},
      WithEnv(env, text + "\n"));
  EXPECT_EQ(fromStdin.out, enc.out);
  CliResult dec = RunCli({"text", "decrypt", "-c", First().cipher, "-H", First().hash,
                          "--passphrase-env", "KPW", base64},
                         WithEnv(env));
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(dec.out, text + "\n");
}

}  // namespace
}  // namespace kryvane::test
