// kryvane-cli under attack: by a local user who may write into part of a tree a batch walks, and
// by a careless one who hands it names, descriptors and files that are not what they seem. Each
// case once lost data or touched a file outside what the command was given.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"
#include "tests/support/text_like.h"

namespace kryvane::test {
namespace {

const std::string kKey = "KPW=pw";

std::vector<std::string> Keyed(const std::string& command, std::vector<std::string> rest) {
  std::vector<std::string> args = {command, "-c", "blowfish", "-H", "sha1", "--passphrase-env",
                                   "KPW"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

std::vector<std::string> Convert(std::vector<std::string> rest) {
  std::vector<std::string> args = {"convert",  "-c",
                                   "blowfish", "-H",
                                   "sha1",     "--passphrase-env",
                                   "KPW",      "--new-passphrase-env",
                                   "KPW",      "--work-factor",
                                   "1"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

void Encrypt(const std::string& plain, const std::string& enc) {
  const CliResult r = RunCli(Keyed("encrypt", {plain, enc}), WithEnv({kKey}));
  ASSERT_EQ(r.status, 0) << r.err;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// (1) A subfolder swapped for a link to a folder outside the tree while a --delete-source batch
// runs: nothing outside is read, written or deleted. A large first file keeps the batch busy while
// the swap is made.
TEST(HostileUse, SubfolderSwappedForALinkDuringABatch) {
  struct Case {
    std::vector<std::string> args;
    std::string suffix;
  };
  const Case cases[] = {
      {Keyed("encrypt", {"--delete-source", "-r"}), ".kry"},
      {Convert({"--delete-source", "--recursive"}), ".age"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    TempFolder dir;
    ASSERT_EQ(::mkdir((dir / "tree").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "tree/sub").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "outside").c_str(), 0755), 0);
    const bool convert = c.args[0] == "convert";
    // The batch walks the tree in name order; "a-big" keeps it busy first.
    const Bytes big = TextLike(std::size_t(48) << 20);
    const Bytes small = TextLike(3000);
    WriteFile(dir / "plain-big", big);
    WriteFile(dir / "plain-small", small);
    WriteFile(dir / "outside/plain-small", small);
    if (convert) {
      Encrypt(dir / "plain-big", dir / "tree/a-big.kry");
      Encrypt(dir / "plain-small", dir / "tree/sub/notes.kry");
      Encrypt(dir / "plain-small", dir / "outside/notes.kry");
    } else {
      WriteFile(dir / "tree/a-big", big);
      WriteFile(dir / "tree/sub/notes", small);
      WriteFile(dir / "outside/notes", small);
    }
    const std::string victim = dir / (convert ? "outside/notes.kry" : "outside/notes");
    const Bytes before = ReadFile(victim);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-j", "1", "--progress", "--output-dir", dir / "out", dir / "tree"});
    CliProcess cli(args, {kKey});
    ASSERT_TRUE(cli.AwaitError("0 / 2 files", 60000)) << "no progress shown";
    ASSERT_EQ(::rename((dir / "tree/sub").c_str(), (dir / "moved").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/sub").c_str()), 0);
    const CliResult& r = cli.Finish(120000);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Exists(victim)) << "a file outside the tree was deleted";
    EXPECT_EQ(ReadFile(victim), before);
    EXPECT_FALSE(Exists(dir / ("out/tree/sub/notes" + c.suffix)))
        << "a file outside the tree was read";
    EXPECT_EQ(ListFolder(dir / "outside"),
              (std::set<std::string>{convert ? "notes.kry" : "notes", "plain-small"}));
    EXPECT_TRUE(Contains(r.err, "sub")) << r.err;
  }
}

// (2) Bytes appended to the source while convert --delete-source reads it: the source stays.
TEST(HostileUse, ConvertKeepsASourceThatGrew) {
  TempFolder dir;
  WriteFile(dir / "plain", TextLike(std::size_t(96) << 20));
  Encrypt(dir / "plain", dir / "old.kry");
  CliProcess cli(Convert({"--progress", "--delete-source", dir / "old.kry", dir / "new.age"}),
                 {kKey});
  ASSERT_TRUE(cli.AwaitError("MiB", 60000)) << "no progress shown";
  {
    const int fd = ::open((dir / "old.kry").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "appended", 8), 8);
    ::close(fd);
  }
  const CliResult& r = cli.Finish(120000);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Exists(dir / "old.kry")) << r.err;
}

// (3) --force converts a random-looking decryption, but never deletes its source for it.
TEST(HostileUse, ForcedConvertNeverDeletesItsSource) {
  TempFolder dir;
  WriteFile(dir / "plain", TextLike(20000));
  Encrypt(dir / "plain", dir / "old.kry");
  const CliResult r =
      RunCli(Convert({"--force", "--delete-source", dir / "old.kry", dir / "new.age"}),
             WithEnv({"KPW=not the passphrase"}));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Exists(dir / "old.kry"));
  EXPECT_TRUE(Contains(r.err, "kept")) << r.err;
}

// (4) A target named /dev/stdout (and its kin) is the descriptor the shell gave, appended to,
// never a file replaced by a rename.
TEST(HostileUse, StandardStreamNamesAreTheirDescriptors) {
  TempFolder dir;
  WriteText(dir / "plain", "the plaintext\n");
  Encrypt(dir / "plain", dir / "enc");
  for (const std::string name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    WriteText(dir / "log", "earlier line\n");
    const CliResult r = RunRedirected(Keyed("decrypt", {dir / "enc", name}), "", dir / "log");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadText(dir / "log"), "earlier line\nthe plaintext\n");
  }
  // And as a source: /dev/stdin reads what the shell redirected.
  const CliResult r =
      RunRedirected(Keyed("encrypt", {"/dev/stdin", dir / "enc2"}), dir / "plain", "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "enc2"), ReadFile(dir / "enc"));
  // The passphrase cannot come from the standard input that carries the data.
  const CliResult both = RunRedirected(
      {"encrypt", "--passphrase-file", "/dev/stdin", "-", dir / "enc3"}, dir / "plain", "");
  EXPECT_EQ(both.status, 2) << both.err;
  EXPECT_FALSE(Exists(dir / "enc3"));
}

// (5) "-" on a standard descriptor that was closed at start fails as cat does, and leaves no
// empty target.
TEST(HostileUse, ClosedStandardDescriptorIsAnError) {
  TempFolder dir;
  WriteText(dir / "plain", "the plaintext\n");
  Encrypt(dir / "plain", dir / "enc");
  const CliResult out = RunRedirected(Keyed("decrypt", {dir / "enc", "-"}), "", "", 022, {1});
  EXPECT_EQ(out.status, 1) << out.err;
  EXPECT_TRUE(Contains(out.err, "Bad file descriptor")) << out.err;
  const CliResult in = RunRedirected(Keyed("encrypt", {"-", dir / "target"}), "", "", 022, {0});
  EXPECT_EQ(in.status, 1) << in.err;
  EXPECT_TRUE(Contains(in.err, "Bad file descriptor")) << in.err;
  EXPECT_FALSE(Exists(dir / "target"));
}

// (6) A FIFO where a settings file is expected is refused at once, and the batch goes on.
TEST(HostileUse, SettingsFifoIsRefusedWithoutBlocking) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "enc").c_str(), 0755), 0);
  WriteText(dir / "plain", "the plaintext\n");
  Encrypt(dir / "plain", dir / "enc/a.kry");
  Encrypt(dir / "plain", dir / "enc/b.kry");
  ASSERT_EQ(::mkfifo((dir / "enc/a-settings.txt").c_str(), 0600), 0);
  CliProcess cli({"decrypt", "--use-settings", "--passphrase-env", "KPW", "-c", "blowfish", "-H",
                  "sha1", "--output-dir", dir / "out", dir / "enc/a.kry", dir / "enc/b.kry"},
                 {kKey});
  // A hang guard, not a timing: the batch never waits for a writer to the FIFO.
  const CliResult& r = cli.Finish(20000);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(Contains(r.err, "a-settings.txt")) << r.err;
  EXPECT_EQ(ReadText(dir / "out/b"), "the plaintext\n");
}

// (7) A target owned by another user is replaced by a file of the job's user, not refilled with
// its old owner.
TEST(HostileUse, ReplacedTargetBelongsToTheJobsUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a file to another user";
  TempFolder dir;
  WriteText(dir / "plain", "the plaintext\n");
  WriteText(dir / "enc", "theirs");
  ASSERT_EQ(::chown((dir / "enc").c_str(), 65534, 65534), 0);
  Encrypt(dir / "plain", dir / "enc");
  struct stat st;
  ASSERT_EQ(::stat((dir / "enc").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, ::geteuid());
}

// (8) A target is never more open than its source: a 0600 ciphertext decrypts to a 0600 plaintext,
// in a single job and in a batch.
TEST(HostileUse, TargetModeIsNoWiderThanTheSource) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "enc").c_str(), 0755), 0);
  WriteText(dir / "plain", "the plaintext\n");
  Encrypt(dir / "plain", dir / "enc/a.kry");
  ASSERT_EQ(::chmod((dir / "enc/a.kry").c_str(), 0600), 0);
  ASSERT_EQ(RunRedirected(Keyed("decrypt", {dir / "enc/a.kry", dir / "back"})).status, 0);
  EXPECT_EQ(Mode(dir / "back"), mode_t(0600));
  ASSERT_EQ(
      RunRedirected(Keyed("decrypt", {"--output-dir", dir / "out", dir / "enc/a.kry"})).status, 0);
  EXPECT_EQ(Mode(dir / "out/a"), mode_t(0600));
  // Replacing a file of one's own does not widen it either.
  WriteText(dir / "open", "old");
  ASSERT_EQ(::chmod((dir / "open").c_str(), 0644), 0);
  ASSERT_EQ(RunRedirected(Keyed("decrypt", {dir / "enc/a.kry", dir / "open"})).status, 0);
  EXPECT_EQ(Mode(dir / "open"), mode_t(0600));
}

// (10) A usage error in a batch creates no folder; a folder that cannot be created is reported
// with its real cause.
TEST(HostileUse, BatchRefusesBeforeTouchingTheDisk) {
  TempFolder dir;
  WriteText(dir / "plain", "the plaintext\n");
  Encrypt(dir / "plain", dir / "a.kry");
  const CliResult both =
      RunCli({"decrypt", "--use-settings", "--settings", dir / "a.kry-settings.txt", "--output-dir",
              dir / "out", dir / "a.kry"},
             WithEnv({kKey}));
  EXPECT_EQ(both.status, 2) << both.err;
  const CliResult noKey =
      RunCli(Keyed("decrypt", {"--output-dir", dir / "out2", dir / "a.kry"}), WithEnv({}));
  EXPECT_EQ(noKey.status, 1) << noKey.err;
  EXPECT_FALSE(Exists(dir / "out"));
  EXPECT_FALSE(Exists(dir / "out2"));
  const CliResult blocked = RunCli(
      Keyed("decrypt", {"--output-dir", dir / "plain/below", dir / "a.kry"}), WithEnv({kKey}));
  EXPECT_EQ(blocked.status, 1) << blocked.err;
  EXPECT_TRUE(Contains(blocked.err, "Not a directory")) << blocked.err;
}

// A trailing slash changes nothing: "d1" and "d1/" give the same layout; a file named twice (a
// folder and a file in it) is processed once.
TEST(HostileUse, BatchNamesGiveOneLayout) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "d1").c_str(), 0755), 0);
  WriteText(dir / "d1/a", "one");
  for (const std::string& name : {dir / "d1", dir / "d1/"}) {
    SCOPED_TRACE(name);
    const std::string out = dir / (name.back() == '/' ? "slash" : "plain");
    const CliResult r =
        RunCli(Keyed("encrypt", {"-r", "--output-dir", out, name, dir / "d1/a"}), WithEnv({kKey}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "1 done")) << r.err;
  }
  EXPECT_EQ(ListFolder(dir / "slash"), ListFolder(dir / "plain"));
}

}  // namespace
}  // namespace kryvane::test
