// The order of the system calls that makes a crash at any moment harmless, recorded with strace:
// a target's data reaches the disk before it takes its name, its folder's entry before the source
// is unlinked, and each folder the job creates is flushed into its parent before files are named
// in it. Only the order is checked, so the test holds on any file system.
#include <sys/stat.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "tests/cli/run_cli.h"
#include "tests/support/external_tool.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

struct Call {
  std::string name;
  std::vector<std::string> args;  // as strace printed them, descriptors with their paths
};

// The calls strace recorded, in order, with every thread's interleaved as they happened.
std::vector<Call> ReadTrace(const std::string& log) {
  std::vector<Call> calls;
  std::ifstream in(log);
  for (std::string text; std::getline(in, text);) {
    // "PID NAME(ARGS) = RESULT": only calls that succeeded, with a count or 0.
    std::size_t at = text.find_first_not_of("0123456789");
    if (at == 0 || at == std::string::npos) continue;
    at = text.find_first_not_of(' ', at);
    const std::size_t open = text.find('(', at);
    // strace pads the result to a column: ")     = 0".
    const std::size_t equals = text.rfind(" = ");
    if (at == std::string::npos || open == std::string::npos || equals == std::string::npos ||
        equals + 3 >= text.size() || !std::isdigit(uint8_t(text[equals + 3]))) {
      continue;
    }
    const std::size_t close = text.find_last_not_of(' ', equals);
    if (close == std::string::npos || close < open || text[close] != ')') continue;
    Call call{text.substr(at, open - at), {}};
    const std::string args = text.substr(open + 1, close - open - 1);
    std::string current;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const char c = args[i];
      if (quoted && c == '\\' && i + 1 < args.size()) {
        current += c;
        current += args[++i];
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '<') ++depth;
      if (!quoted && c == '>') --depth;
      if (!quoted && depth == 0 && c == ',') {
        call.args.push_back(current);
        current.clear();
        if (i + 1 < args.size() && args[i + 1] == ' ') ++i;
        continue;
      }
      current += c;
    }
    call.args.push_back(current);
    calls.push_back(std::move(call));
  }
  return calls;
}

// The path strace shows for a descriptor argument ("5</tmp/x>" gives "/tmp/x").
std::string PathOf(const std::string& arg) {
  const auto open = arg.find('<');
  const auto close = arg.find('>', open);
  if (open == std::string::npos || close == std::string::npos) return {};
  return arg.substr(open + 1, close - open - 1);
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

constexpr std::size_t kNone = std::size_t(-1);

template <class Match>
std::size_t Find(const std::vector<Call>& calls, Match match, std::size_t from = 0) {
  for (std::size_t i = from; i < calls.size(); ++i) {
    if (match(calls[i])) return i;
  }
  return kNone;
}

bool IsFlush(const Call& c) {
  return c.name == "fsync" || c.name == "fdatasync";
}

// Checks the order for one target (folder/name) and, when given, its source (folder/name).
void ExpectSafeOrder(const std::vector<Call>& calls, const std::string& targetFolder,
                     const std::string& targetName, const std::string& sourceFolder = "",
                     const std::string& sourceName = "") {
  SCOPED_TRACE(targetFolder + "/" + targetName);
  const std::size_t named = Find(calls, [&](const Call& c) {
    return (c.name == "renameat" || c.name == "renameat2") && c.args.size() >= 4 &&
           PathOf(c.args[2]) == targetFolder && c.args[3] == Quoted(targetName);
  });
  ASSERT_NE(named, kNone) << "the target never took its name by a rename";
  // The data: a flush of a file in the target's folder, before the name.
  const std::size_t data = Find(calls, [&](const Call& c) {
    const std::string path = PathOf(c.args[0]);
    return IsFlush(c) && path.starts_with(targetFolder + "/") &&
           path.find('/', targetFolder.size() + 1) == std::string::npos;
  });
  ASSERT_NE(data, kNone) << "the target's data was never flushed";
  EXPECT_LT(data, named) << "the target took its name before its data was on the disk";
  if (sourceName.empty()) return;
  // Read back from the disk between the flush and the name: what the source's deletion trusts.
  const std::size_t readBack = Find(
      calls,
      [&](const Call& c) {
        const std::string path = PathOf(c.args[0]);
        return (c.name == "read" || c.name == "pread64") && path.starts_with(targetFolder + "/") &&
               path.find('/', targetFolder.size() + 1) == std::string::npos &&
               path != sourceFolder + "/" + sourceName;
      },
      data);
  EXPECT_LT(readBack, named) << "the target was not read back before it took its name";
  const std::size_t unlinked = Find(calls, [&](const Call& c) {
    return c.name == "unlinkat" && c.args.size() >= 2 && PathOf(c.args[0]) == sourceFolder &&
           c.args[1] == Quoted(sourceName);
  });
  ASSERT_NE(unlinked, kNone) << "the source was not unlinked relative to its folder";
  const std::size_t folderFlushed = Find(
      calls, [&](const Call& c) { return IsFlush(c) && PathOf(c.args[0]) == targetFolder; }, named);
  ASSERT_NE(folderFlushed, kNone) << "the target's folder was never flushed after the rename";
  EXPECT_LT(folderFlushed, unlinked) << "the source went before the target's name was durable";
}

// Each folder created is flushed into its parent before any file takes its name inside it.
void ExpectCreatedFoldersFlushed(const std::vector<Call>& calls) {
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const Call& c = calls[i];
    std::string parent, made;
    if (c.name == "mkdirat" && c.args.size() >= 2) {
      parent = PathOf(c.args[0]);
      made = parent + "/" + c.args[1].substr(1, c.args[1].size() - 2);
    } else if (c.name == "mkdir" && !c.args.empty()) {
      made = c.args[0].substr(1, c.args[0].size() - 2);
      parent = made.substr(0, made.rfind('/'));
    } else {
      continue;
    }
    SCOPED_TRACE(made);
    const std::size_t flushed = Find(
        calls, [&](const Call& f) { return IsFlush(f) && PathOf(f.args[0]) == parent; }, i);
    const std::size_t firstNamed = Find(
        calls,
        [&](const Call& r) {
          return (r.name == "renameat" || r.name == "renameat2") && r.args.size() >= 4 &&
                 PathOf(r.args[2]).starts_with(made);
        },
        i);
    ASSERT_NE(flushed, kNone) << "a created folder was never flushed into its parent";
    if (firstNamed != kNone) {
      EXPECT_LT(flushed, firstNamed);
    }
  }
}

class CrashOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("strace"))
      GTEST_SKIP() << "strace is not installed (scripts/deps.sh installs it)";
    char real[PATH_MAX];
    ASSERT_NE(::realpath(dir_.Path().c_str(), real), nullptr);
    root_ = real;
  }

  std::vector<Call> Traced(const std::vector<std::string>& args) {
    const std::string log = root_ + "/trace.log";
    std::vector<std::string> all = {"strace",
                                    "-f",
                                    "-y",
                                    "-qq",
                                    "-o",
                                    log,
                                    "-e",
                                    "trace=fsync,fdatasync,rename,renameat,renameat2,unlink,"
                                    "unlinkat,mkdir,mkdirat,linkat,read,pread64",
                                    KRYVANE_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    // LeakSanitizer cannot run under ptrace; the sanitizer build traces the tool without it.
    const ToolResult r = RunProcess(all, WithEnv({"KPW=pw", "ASAN_OPTIONS=detect_leaks=0"}));
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadTrace(log);
  }

  std::string Encrypted(const std::string& name) {
    WriteText(root_ + "/" + name + ".plain", "a letter to a friend, in plain words\n");
    const CliResult r = RunCli(
        {"encrypt", "--passphrase-env", "KPW", root_ + "/" + name + ".plain", root_ + "/" + name},
        WithEnv({"KPW=pw"}));
    EXPECT_EQ(r.status, 0) << r.err;
    return root_ + "/" + name;
  }

  TempFolder dir_;
  std::string root_;
};

TEST_F(CrashOrder, SingleFileWithDeleteSource) {
  WriteText(root_ + "/plain", "the only copy\n");
  const auto calls = Traced(
      {"encrypt", "--passphrase-env", "KPW", "--delete-source", root_ + "/plain", root_ + "/enc"});
  ExpectSafeOrder(calls, root_, "enc", root_, "plain");
}

TEST_F(CrashOrder, BatchWithDeleteSource) {
  ASSERT_EQ(::mkdir((root_ + "/tree").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((root_ + "/tree/sub").c_str(), 0755), 0);
  WriteText(root_ + "/tree/a", "first\n");
  WriteText(root_ + "/tree/sub/b", "second\n");
  const auto calls = Traced({"encrypt", "--passphrase-env", "KPW", "--delete-source", "-r", "-j",
                             "1", "--output-dir", root_ + "/out/deeper", root_ + "/tree"});
  ExpectSafeOrder(calls, root_ + "/out/deeper/tree", "a.kry", root_ + "/tree", "a");
  ExpectSafeOrder(calls, root_ + "/out/deeper/tree/sub", "b.kry", root_ + "/tree/sub", "b");
  ExpectCreatedFoldersFlushed(calls);
}

TEST_F(CrashOrder, ConvertWithDeleteSource) {
  const std::string legacy = Encrypted("old.kry");
  const auto calls = Traced({"convert", "--passphrase-env", "KPW", "--new-passphrase-env", "KPW",
                             "--work-factor", "1", "--delete-source", legacy, root_ + "/new.age"});
  ExpectSafeOrder(calls, root_, "new.age", root_, "old.kry");
}

}  // namespace
}  // namespace kryvane::test
