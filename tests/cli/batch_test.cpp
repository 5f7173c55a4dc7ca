// kryvane-cli with --output-dir: many files in one command, each through the same job as a single
// file, with the names, collisions, settings files and failures a batch meets.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

#include "tests/cli/run_cli.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

const std::string kKey = "KPW=batch passphrase";

std::vector<std::string> Args(std::vector<std::string> args) {
  args.insert(args.begin() + 1, {"-c", "twofish", "-H", "sha256", "--passphrase-env", "KPW"});
  return args;
}

// Every regular file under root, by relative path.
std::map<std::string, Bytes> Tree(const std::string& root, const std::string& rel = "") {
  std::map<std::string, Bytes> files;
  for (const std::string& name : ListFolder(rel.empty() ? root : root + "/" + rel)) {
    const std::string childRel = rel.empty() ? name : rel + "/" + name;
    const std::string path = root + "/" + childRel;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      files.merge(Tree(root, childRel));
    } else if (S_ISREG(st.st_mode)) {
      files[childRel] = ReadFile(path);
    }
  }
  return files;
}

void MakeTree(const TempFolder& dir) {
  ASSERT_EQ(::mkdir((dir / "docs").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "docs/sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "docs/sub/deeper").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "docs/empty").c_str(), 0755), 0);
  WriteText(dir / "docs/a.txt", "first file\n");
  WriteFile(dir / "docs/sub/b.bin", RandomBytes(70001, 1));
  WriteFile(dir / "docs/sub/deeper/c", RandomBytes(8192 * 3 + 5, 2));
  WriteText(dir / "docs/sub/zero", "");
}

// A folder tree goes out and comes back identical; every target is exactly what a single-file job
// writes; links and special files inside the tree are left alone.
TEST(Batch, TreeRoundTrip) {
  TempFolder dir;
  MakeTree(dir);
  ASSERT_EQ(::symlink("../a.txt", (dir / "docs/sub/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "docs/fifo").c_str(), 0600), 0);
  const CliResult enc =
      RunCli(Args({"encrypt", "-r", "--output-dir", dir / "vault", dir / "docs"}), WithEnv({kKey}));
  ASSERT_EQ(enc.status, 0) << enc.err;
  EXPECT_NE(enc.err.find("4 done, 0 failed, 2 skipped"), std::string::npos) << enc.err;
  EXPECT_NE(enc.err.find("docs/sub/link: a symbolic link, not followed"), std::string::npos);
  const auto vault = Tree(dir / "vault");
  std::set<std::string> names;
  for (const auto& [name, data] : vault) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"docs/a.txt.kry", "docs/sub/b.bin.kry",
                                          "docs/sub/deeper/c.kry", "docs/sub/zero.kry"}));

  const CliResult single =
      RunCli(Args({"encrypt", dir / "docs/sub/b.bin", dir / "single.kry"}), WithEnv({kKey}));
  ASSERT_EQ(single.status, 0) << single.err;
  EXPECT_EQ(vault.at("docs/sub/b.bin.kry"), ReadFile(dir / "single.kry"));

  const CliResult dec = RunCli(
      Args({"decrypt", "-r", "--output-dir", dir / "back", dir / "vault/docs"}), WithEnv({kKey}));
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(Tree(dir / "back/docs"), Tree(dir / "docs"));
}

// Names: the suffix is added on the way in and removed on the way out; a name without it gets
// ".dec"; --suffix chooses another.
TEST(Batch, NameRules) {
  TempFolder dir;
  WriteText(dir / "report.pdf", "pdf");
  WriteText(dir / "notes.txt.enc", "enc");
  WriteText(dir / "plain", "xyz");
  ASSERT_EQ(
      RunCli(Args({"encrypt", "--output-dir", dir / "e", dir / "report.pdf"}), WithEnv({kKey}))
          .status,
      0);
  EXPECT_TRUE(Exists(dir / "e/report.pdf.kry"));
  ASSERT_EQ(
      RunCli(Args({"encrypt", "--suffix", ".enc", "--output-dir", dir / "e2", dir / "report.pdf"}),
             WithEnv({kKey}))
          .status,
      0);
  EXPECT_TRUE(Exists(dir / "e2/report.pdf.enc"));
  const CliResult r = RunCli(Args({"decrypt", "--suffix", ".enc", "--output-dir", dir / "d",
                                   dir / "notes.txt.enc", dir / "plain", dir / "e/report.pdf.kry"}),
                             WithEnv({kKey}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListFolder(dir / "d"),
            (std::set<std::string>{"notes.txt", "plain.dec", "report.pdf.kry.dec"}));
}

// One file fails (a file stands where its folder must go): the others are done, the failure is
// listed with its cause, the exit status is 1, and --delete-source removes only the sources
// whose targets were written.
TEST(Batch, FailureAmongSuccessesWithDeleteSource) {
  TempFolder dir;
  MakeTree(dir);
  ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "out/docs").c_str(), 0755), 0);
  WriteText(dir / "out/docs/sub", "in the way");
  const CliResult r =
      RunCli(Args({"encrypt", "-r", "--delete-source", "--output-dir", dir / "out", dir / "docs"}),
             WithEnv({kKey}));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("1 done, 3 failed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kryvane-cli: error: " + dir / "out/docs/sub" +
                       ": create folder: Not a directory"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(Exists(dir / "out/docs/a.txt.kry"));
  EXPECT_FALSE(Exists(dir / "docs/a.txt"));
  EXPECT_TRUE(Exists(dir / "docs/sub/b.bin"));
  EXPECT_TRUE(Exists(dir / "docs/sub/deeper/c"));
  EXPECT_EQ(ReadText(dir / "out/docs/sub"), "in the way");
}

// Decryption with --use-settings: each file takes the key its settings file records; a file
// without one uses the passphrase options, or is skipped with a note when none is given.
TEST(Batch, UseSettings) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "plain").c_str(), 0755), 0);
  WriteText(dir / "plain/one.txt", "one");
  WriteText(dir / "plain/two.txt", "two");
  WriteText(dir / "plain/three.txt", "three");
  ASSERT_EQ(::mkdir((dir / "enc").c_str(), 0755), 0);
  for (const auto& [name, pw, cipher] :
       {std::tuple{"one.txt", "first", "rc4"}, std::tuple{"two.txt", "second", "des"},
        std::tuple{"three.txt", "third", "serpent"}}) {
    const CliResult r =
        RunCli({"encrypt", "-c", cipher, "-H", "md5", "--passphrase-env", "KPW",
                std::string(name) != "three.txt" ? "--save-settings" : "--no-progress",
                dir / "plain/" + name, dir / "enc/" + name + ".kry"},
               WithEnv({std::string("KPW=") + pw}));
    ASSERT_EQ(r.status, 0) << r.err;
    if (std::string(name) != "three.txt") {
      ASSERT_EQ(::rename((dir / "plain/" + name + "-settings.txt").c_str(),
                         (dir / "enc/" + name + "-settings.txt").c_str()),
                0);
    }
  }
  CliResult r =
      RunCli({"decrypt", "--use-settings", "-r", "--output-dir", dir / "out", dir / "enc"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("2 done, 0 failed, 3 skipped"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("three.txt.kry: no "), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir / "out/enc/one.txt"), "one");
  EXPECT_EQ(ReadText(dir / "out/enc/two.txt"), "two");
  EXPECT_FALSE(Exists(dir / "out/enc/three.txt"));

  r = RunCli({"decrypt", "--use-settings", "-c", "serpent", "-H", "md5", "--passphrase-env", "KPW",
              "-r", "--output-dir", dir / "out2", dir / "enc"},
             WithEnv({"KPW=third"}));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(dir / "out2/enc/three.txt"), "three");
}

// Collisions are refused before anything is written: two sources with one target, and a target
// that is one of the sources.
TEST(Batch, CollisionsRefusedUpFront) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "x").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir / "y").c_str(), 0755), 0);
  WriteText(dir / "x/same.txt", "x");
  WriteText(dir / "y/same.txt", "y");
  CliResult r =
      RunCli(Args({"encrypt", "--output-dir", dir / "out", dir / "x/same.txt", dir / "y/same.txt"}),
             WithEnv({kKey}));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("would both become"), std::string::npos) << r.err;
  EXPECT_TRUE(ListFolder(dir / "out").empty());

  WriteText(dir / "x/doc", "plaintext to keep");
  WriteText(dir / "x/doc.kry", "ciphertext");
  r = RunCli(
      Args({"decrypt", "--force", "--output-dir", dir / "x", dir / "x/doc.kry", dir / "x/doc"}),
      WithEnv({kKey}));
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("would overwrite the source"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir / "x/doc"), "plaintext to keep");
}

// An existing target is replaced only with --force.
TEST(Batch, ExistingTargetsNeedForce) {
  TempFolder dir;
  WriteText(dir / "a", "new");
  ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
  WriteText(dir / "out/a.kry", "old");
  CliResult r = RunCli(Args({"encrypt", "--output-dir", dir / "out", dir / "a"}), WithEnv({kKey}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("exists (--force replaces it)"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(dir / "out/a.kry"), "old");
  r = RunCli(Args({"encrypt", "--force", "--output-dir", dir / "out", dir / "a"}), WithEnv({kKey}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(dir / "out/a.kry").size(), 3u);
  EXPECT_NE(ReadText(dir / "out/a.kry"), "old");
}

// A target that is a symbolic link (planted in the output folder, say) is refused even with
// --force: replacing it would overwrite the file it points to, which the batch was never given.
TEST(Batch, ReplacingNeverWritesThroughALink) {
  TempFolder dir;
  WriteText(dir / "a", "plain text of a");
  ASSERT_EQ(RunCli(Args({"encrypt", dir / "a", dir / "a.kry"}), WithEnv({kKey})).status, 0);
  WriteText(dir / "elsewhere", "not to be touched");
  ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
  struct Command {
    std::vector<std::string> args;
    std::string target;
  };
  const Command commands[] = {
      {Args({"encrypt", "--force", "--output-dir", dir / "out", dir / "a"}), "out/a.kry"},
      {{"convert", "-c", "twofish", "-H", "sha256", "--passphrase-env", "KPW",
        "--new-passphrase-env", "KPW", "--work-factor", "1", "--overwrite", "--output-dir",
        dir / "out", dir / "a.kry"},
       "out/a.age"},
  };
  for (const Command& command : commands) {
    SCOPED_TRACE(command.args[0]);
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / command.target).c_str()), 0);
    const CliResult r = RunCli(command.args, WithEnv({kKey}));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(command.target + ": open: it is a symbolic link"), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadText(dir / "elsewhere"), "not to be touched");
  }
}

// Ctrl-C stops the batch: the finished file stays, the one in progress leaves nothing, the summary
// says what was not done.
TEST(Batch, InterruptStopsCleanly) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "in").c_str(), 0755), 0);
  WriteText(dir / "in/a.txt", "small");
  {
    const int fd = ::open((dir / "in/big").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 40), 0);
    ::close(fd);
  }
  WriteText(dir / "in/z.txt", "never reached");
  CliProcess cli(
      Args({"encrypt", "-j", "1", "--progress", "-r", "--output-dir", dir / "out", dir / "in"}),
      {kKey});
  // The small file is done and the big one under way.
  ASSERT_TRUE(cli.AwaitError("1 / 3 files", 60000)) << "no progress shown";
  cli.Signal(SIGINT);
  const CliResult& r = cli.Finish(60000);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("1 done, 0 failed, 0 skipped, 2 not done"), std::string::npos) << r.err;
  EXPECT_EQ(ListFolder(dir / "out/in"), std::set<std::string>{"a.txt.kry"});
  EXPECT_TRUE(Exists(dir / "in/big"));
}

// The guard in a batch: decrypting under a wrong passphrase with --delete-source writes the
// garbage but keeps every source, says so and exits 1; the right passphrase deletes them.
TEST(Batch, WrongPassphraseKeepsEverySource) {
  TempFolder dir;
  ASSERT_EQ(::mkdir((dir / "plain").c_str(), 0755), 0);
  WriteText(dir / "plain/one.txt", std::string(3000, 'a') + " letter to a friend\n");
  WriteText(dir / "plain/two.txt", "minutes of the meeting, in plain words and numbers 1234\n");
  ASSERT_EQ(RunCli(Args({"encrypt", "--output-dir", dir / "enc", dir / "plain/one.txt",
                         dir / "plain/two.txt"}),
                   WithEnv({kKey}))
                .status,
            0);
  const CliResult wrong = RunCli(Args({"decrypt", "--delete-source", "--output-dir", dir / "bad",
                                       dir / "enc/one.txt.kry", dir / "enc/two.txt.kry"}),
                                 WithEnv({"KPW=not the passphrase"}));
  EXPECT_EQ(wrong.status, 1) << wrong.err;
  EXPECT_NE(wrong.err.find("either the passphrase, cipher or hash is wrong, or the file was itself "
                           "encrypted or compressed"),
            std::string::npos)
      << wrong.err;
  EXPECT_TRUE(Exists(dir / "enc/one.txt.kry") && Exists(dir / "enc/two.txt.kry"));
  const CliResult right = RunCli(Args({"decrypt", "--delete-source", "--output-dir", dir / "good",
                                       dir / "enc/one.txt.kry", dir / "enc/two.txt.kry"}),
                                 WithEnv({kKey}));
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_FALSE(Exists(dir / "enc/one.txt.kry") || Exists(dir / "enc/two.txt.kry"));
  EXPECT_EQ(ReadFile(dir / "good/two.txt"), ReadFile(dir / "plain/two.txt"));
}

// A file found in a folder is opened without following a link: one swapped in after the batch
// was planned (by someone who may write into that folder) cannot make the batch encrypt or convert
// a file it was never given. A FIFO named first holds the batch after planning while the swap is
// made.
TEST(Batch, FileSwappedForALinkAfterPlanningIsRefused) {
  struct Command {
    std::vector<std::string> args;
    std::string suffix;
  };
  const Command commands[] = {
      {Args({"encrypt"}), ".kry"},
      {{"convert", "--passphrase-env", "KPW", "--new-passphrase-env", "KPW", "--work-factor", "1"},
       ".age"},
  };
  for (const Command& command : commands) {
    SCOPED_TRACE(command.args[0]);
    TempFolder dir;
    ASSERT_EQ(::mkfifo((dir / "first").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((dir / "docs").c_str(), 0755), 0);
    WriteText(dir / "docs/notes.txt", "planned");
    WriteText(dir / "secret", "never to be encrypted");
    std::vector<std::string> args = command.args;
    args.insert(args.end(), {"-j", "1", "--recursive", "--output-dir", dir / "vault", dir / "first",
                             dir / "docs"});
    CliProcess cli(args, {kKey});
    // The FIFO's reader is there once planning is over and its file has started.
    int writer = -1;
    for (int i = 0; i < 6000 && writer < 0; ++i) {
      writer = ::open((dir / "first").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(writer, 0) << "the batch never read the FIFO";
    ASSERT_EQ(::unlink((dir / "docs/notes.txt").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "secret").c_str(), (dir / "docs/notes.txt").c_str()), 0);
    ASSERT_EQ(::write(writer, "fifo data", 9), 9);
    ::close(writer);
    const CliResult& r = cli.Finish(60000);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("docs/notes.txt: open: it is a symbolic link now, which is not followed"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(Exists(dir / ("vault/docs/notes.txt" + command.suffix)));
  }
}

}  // namespace
}  // namespace kryvane::test
