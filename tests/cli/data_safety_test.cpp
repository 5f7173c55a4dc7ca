// kryvane-cli against the ways a job could lose, overwrite or leak a file: planted links, sources
// that are not what they seem, closed descriptors, endless inputs, unwritable outputs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <thread>

#include "app/catalogue.h"
#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

std::vector<std::string> Job(const std::string& command, std::vector<std::string> rest) {
  std::vector<std::string> args = {command,
                                   "-c",
                                   std::string(CipherCatalogue().front().shortName),
                                   "-H",
                                   std::string(HashCatalogue().front().shortName),
                                   "--passphrase-env",
                                   "KPW"};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

const CliOptions& Env() {
  static const CliOptions options = WithEnv({"KPW=pw"});
  return options;
}

void ExpectFailed(const CliResult& r, const std::vector<std::string>& mentions) {
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(r.err.starts_with("kryvane-cli: error: ")) << r.err;
  for (const std::string& m : mentions) EXPECT_NE(r.err.find(m), std::string::npos) << r.err;
}

// A link planted where the settings file goes must not redirect the write: not onto the new
// target (which would become text, with the source deleted), not into another folder (which would
// receive the passphrase), not even when it dangles.
TEST(CliSafety, SettingsFileIsNeverWrittenThroughALink) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "other").c_str(), 0700), 0);
  const std::string settings = dir / "plain-settings.txt";
  for (const std::string& pointee : {dir / "enc", dir / "other/stolen.txt", dir / "plain"}) {
    SCOPED_TRACE(pointee);
    WriteText(dir / "plain", "only copy");
    WriteText(dir / "enc", "previous");
    ASSERT_EQ(::symlink(pointee.c_str(), settings.c_str()), 0);
    ExpectFailed(
        RunCli(Job("encrypt", {"--save-settings", "--delete-source", dir / "plain", dir / "enc"}),
               Env()),
        {settings, "symbolic link"});
    EXPECT_EQ(ReadText(dir / "plain"), "only copy");
    EXPECT_EQ(ReadText(dir / "enc"), "previous");
    EXPECT_FALSE(Exists(dir / "other/stolen.txt"));
    ASSERT_EQ(::unlink(settings.c_str()), 0);
  }
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "enc", "other"}));
}

// Only a regular file that was read whole is deleted: not a FIFO or device node, not a link (that
// would remove the link and keep the plaintext).
TEST(CliSafety, DeleteSourceRefusesWhatIsNoRegularFile) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  ASSERT_EQ(::symlink("plain", (dir / "link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
  for (const char* source : {"link", "fifo", "null"}) {
    SCOPED_TRACE(source);
    ExpectFailed(RunCli(Job("encrypt", {"--delete-source", dir / source, dir / "enc"}), Env()),
                 {dir / source, "delete"});
  }
  EXPECT_EQ(ReadText(dir / "plain"), "data");
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "link", "fifo", "null"}));
}

// A source that cannot be deleted (its folder is read-only) leaves the plaintext in place: the
// target is written, but the exit status says the job did not do all it was asked.
TEST(CliSafety, DeleteSourceThatFailsExitsWith1) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  WriteText(dir / "ro/plain", "data");
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
  const CliResult r = RunCli(Job("encrypt", {"--delete-source", dir / "ro/plain", dir / "enc"}),
                             WithEnv({"KPW=pw"}, {}, true));
  ExpectFailed(r, {dir / "ro/plain", "delete"});
  EXPECT_EQ(ReadText(dir / "ro/plain"), "data");
  EXPECT_EQ(ReadFile(dir / "enc").size(), 4u);
}

// Whatever stops the settings file from being written is found before the target is replaced, so
// the target never ends up keyed with a passphrase the settings file does not hold.
TEST(CliSafety, UnwritableSettingsFileLeavesTheTargetAlone) {
  TempFolder dir;
  // A name that fits, whose settings file name does not.
  const std::string longName = std::string(NAME_MAX - 5, 'p');
  WriteText(dir / longName, "data");
  WriteText(dir / "enc", "previous");
  ExpectFailed(
      RunCli(Job("encrypt", {"--save-settings", "--delete-source", dir / longName, dir / "enc"}),
             Env()),
      {longName + "-settings.txt", "File name too long"});
  EXPECT_EQ(ReadText(dir / longName), "data");
  EXPECT_EQ(ReadText(dir / "enc"), "previous");
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{longName, "enc"}));
}

// Files in /proc report a size of 0 but have content: the job reads to the end.
TEST(CliSafety, SourceOfMisreportedSizeIsReadToTheEnd) {
  TempFolder dir;
  const std::string expected = ReadText("/proc/version");
  ASSERT_FALSE(expected.empty());
  ASSERT_EQ(RunCli(Job("encrypt", {"/proc/version", dir / "enc"}), Env()).status, 0);
  ASSERT_EQ(RunCli(Job("decrypt", {dir / "enc", dir / "back"}), Env()).status, 0);
  EXPECT_EQ(ReadText(dir / "back"), expected);
}

// Started with standard error closed, the target must not take descriptor 2 and receive the
// progress bar.
TEST(CliSafety, ClosedStandardDescriptorsAreNotReused) {
  TempFolder dir;
  const Bytes plain = RandomBytes(3000, 5);
  WriteFile(dir / "plain", plain);
  const CliResult r =
      RunRedirected(Job("encrypt", {"--progress", "-", dir / "enc"}), dir / "plain", "", 022, {2});
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(RunCli(Job("decrypt", {dir / "enc", dir / "back"}), Env()).status, 0);
  EXPECT_EQ(ReadFile(dir / "back"), plain);
}

// Endless inputs end in a clear error, not in memory exhaustion and a core file holding the
// passphrase.
TEST(CliSafety, EndlessInputsAreCapped) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  // A settings file must be a regular file (a device is refused at once); a huge one is capped.
  const std::string huge = dir / "huge-settings.txt";
  {
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(2) << 20), 0);
    ::close(fd);
  }
  const std::vector<std::vector<std::string>> cases = {
      {"encrypt", "--passphrase-file", "/dev/zero", dir / "plain", dir / "enc"},
      {"decrypt", "--settings", huge, dir / "plain", dir / "enc"},
      {"text", "decrypt", "--passphrase-env", "KPW"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args[1]);
    ExpectFailed(RunRedirected(args, "/dev/zero"), {"more than 1 MiB"});
  }
  ExpectFailed(RunRedirected({"decrypt", "--settings", "/dev/zero", dir / "plain", dir / "enc"},
                             "/dev/zero"),
               {"/dev/zero", "not a regular file"});
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "huge-settings.txt"}));
}

// While it holds a passphrase the tool cannot be dumped, nor read by the user's other processes:
// its /proc entries then belong to root.
TEST(CliSafety, ProcessIsNotDumpable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the tool as another user";
  int in[2];
  ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
  const std::vector<std::string> args = {"text", "encrypt", "--passphrase-env", "KPW"};
  std::vector<char*> argv = Argv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(::open("/dev/null", O_WRONLY), 1);
    ::putenv(const_cast<char*>("KPW=pw"));
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(97);
    ::execv(argv[0], argv.data());
    ::_exit(96);
  }
  ::close(in[0]);
  // The tool holds the passphrase and waits for the text on its standard input meanwhile.
  const std::string proc = "/proc/" + std::to_string(pid);
  // Once the tool runs (its arguments are in place) and sleeps on the read, look at the owner of
  // its /proc entries: root for an undumpable process, the user otherwise.
  bool waiting = false;
  for (int i = 0; i < 500 && !waiting; ++i) {
    const std::string cmdline = ReadText(proc + "/cmdline");
    const std::string stat = ReadText(proc + "/stat");
    const auto close = stat.rfind(')');
    waiting = cmdline.find("KPW") != std::string::npos && close != std::string::npos &&
              stat.compare(close, 4, ") S ") == 0;
    if (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(waiting);
  struct stat st;
  ASSERT_EQ(::stat((proc + "/environ").c_str(), &st), 0);
  const bool undumpable = st.st_uid == 0;
  // An ended process has root's /proc entries too: it must still be waiting.
  int raw = 0;
  EXPECT_EQ(::waitpid(pid, &raw, WNOHANG), 0);
  ::close(in[1]);
  ::waitpid(pid, &raw, 0);
  EXPECT_EQ(ExitStatus(raw), 0);
  EXPECT_TRUE(undumpable);
}

TEST(CliSafety, SmallerFaults) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  // A bad menu text in a settings file is the file's fault (exit 1), named as such.
  WriteText(dir / "bad.txt", "[Settings]\r\nPhrase=pw\r\nCipher=Nonesuch\r\nHash=SHA1\r\n");
  ExpectFailed(RunCli({"decrypt", "--settings", dir / "bad.txt", dir / "plain", dir / "out"}),
               {dir / "bad.txt", "Cipher", "Nonesuch"});
  // A NUL byte in a passphrase that is to be saved is reported as what it is.
  WriteFile(dir / "pw", Bytes{'a', 0, 'b'});
  ExpectFailed(RunCli({"encrypt", "--passphrase-file", dir / "pw", "--save-settings", dir / "plain",
                       dir / "enc"}),
               {"NUL"});
  EXPECT_EQ(ListFolder(dir.Path()), (std::set<std::string>{"plain", "bad.txt", "pw"}));
  // Output that cannot be written is a failure.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"list"}, std::vector<std::string>{"selftest"},
        std::vector<std::string>{"--help"}}) {
    SCOPED_TRACE(args[0]);
    ExpectFailed(RunRedirected(args, "", "/dev/full"), {"standard output", "write"});
  }
}

// A file name may hold a line break: it must neither break the "HEX  NAME" lines of hash nor
// forge a line of its own in an error message.
TEST(CliSafety, FileNamesAreEscaped) {
  TempFolder dir;
  WriteText(dir / "a\nb", "x");
  const CliResult hashed = RunCli({"hash", dir / "a\nb"});
  EXPECT_EQ(hashed.status, 0);
  ASSERT_EQ(std::count(hashed.out.begin(), hashed.out.end(), '\n'), 1) << hashed.out;
  EXPECT_NE(hashed.out.find("a\\nb"), std::string::npos) << hashed.out;
  const CliResult missing =
      RunCli(Job("encrypt", {dir / "x\nkryvane-cli: error: forged", dir / "enc"}), Env());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(std::count(missing.err.begin(), missing.err.end(), '\n'), 1) << missing.err;
}

// A name can also hold the controls of an 8-bit terminal (0x9B is CSI there) and bidirectional
// overrides (U+202E shows "txt.exe" as "exe.txt"): no message, hash line or identify report may
// pass them on raw.
TEST(CliSafety, TerminalControlsAndOverridesInNamesAreEscaped) {
  TempFolder dir;
  const std::string name =
      "x\x9b"
      "31m\u202etxt.exe";
  const std::string shown = "x\\x9b31m\\xe2\\x80\\xaetxt.exe";
  const auto expectNoRawControls = [](const std::string& text) {
    EXPECT_EQ(text.find('\x9b'), std::string::npos) << text;
    EXPECT_EQ(text.find("\u202e"), std::string::npos) << text;
  };
  const CliResult missing = RunCli(Job("encrypt", {dir / name, dir / "enc"}), Env());
  ExpectFailed(missing, {shown + ": open: No such file or directory"});
  expectNoRawControls(missing.err);

  std::string noise(64, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = char(i * 97 + 13);
  WriteText(dir / name, noise);
  const CliResult hashed = RunCli({"hash", "-H", "tiger", dir / name});
  EXPECT_EQ(hashed.status, 0) << hashed.err;
  EXPECT_TRUE(hashed.out.starts_with("\\")) << hashed.out;
  EXPECT_TRUE(hashed.out.ends_with(shown + "\n")) << hashed.out;
  expectNoRawControls(hashed.out);
  // The escaped line names the file again.
  const CliResult checked = RunCli({"hash", "--check", "-H", "tiger"}, WithInput(hashed.out));
  EXPECT_EQ(checked.status, 0) << checked.err;
  std::string okLine = dir / shown;
  okLine.insert(okLine.begin(), '\\');
  EXPECT_EQ(checked.out, okLine + ": OK\n");

  const CliResult identified = RunCli({"identify", "--passphrase-env", "KPW", dir / name}, Env());
  EXPECT_NE(identified.out.find(dir / shown + ": 64 bytes"), std::string::npos) << identified.out;
  expectNoRawControls(identified.out);
  expectNoRawControls(identified.err);
}

// Conflicting options are found while parsing, before the tool asks for a passphrase.
TEST(CliSafety, ConflictingOptionsFailBeforeAnyPrompt) {
  TempFolder dir;
  WriteText(dir / "plain", "data");
  const std::string p = dir / "plain", t = dir / "enc";
  const std::vector<std::vector<std::string>> cases = {
      {"encrypt", "--progress", "--no-progress", p, t},
      {"encrypt", "--passphrase-file", p, "--settings", p, p, t},
  };
  for (const auto& args : cases) {
    const CliResult r = RunCliOnTerminal(args, {{"Passphrase:", "pw\n"}, {"Retype", "pw\n"}});
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(r.out.find("Passphrase:"), std::string::npos) << r.out;
  }
  EXPECT_EQ(ListFolder(dir.Path()), std::set<std::string>{"plain"});
}

}  // namespace
}  // namespace kryvane::test
