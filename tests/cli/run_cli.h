// Runs kryvane-cli as a child process with given arguments, standard input and environment, and
// collects its exit status and both output streams.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/external_tool.h"

namespace kryvane::test {

using CliResult = ToolResult;
using CliOptions = ProcessOptions;

inline CliOptions WithEnv(std::vector<std::string> env, std::string input = {},
                          bool unprivileged = false) {
  CliOptions o;
  o.env = std::move(env);
  o.input = std::move(input);
  o.unprivileged = unprivileged;
  return o;
}

inline CliOptions WithInput(std::string input) {
  return WithEnv({}, std::move(input));
}

inline int ExitStatus(int raw) {
  return ToolStatus(raw);
}

// kryvane-cli's path followed by args.
inline std::vector<std::string> CliArgs(const std::vector<std::string>& args) {
  std::vector<std::string> all{KRYVANE_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

inline std::vector<char*> Argv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  static std::string path = KRYVANE_CLI_PATH;
  argv.push_back(path.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

inline CliResult RunCli(const std::vector<std::string>& args, const CliOptions& options = {}) {
  return RunProcess(CliArgs(args), options);
}

// The tool running in the background, for tests that act while it works: its standard input stays
// open until Finish, so that a read of it would wait.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {})
      : child_(Spawn(CliArgs(args), env, false)) {}
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;
  ~CliProcess() { Finish(0); }

  // Collects output until standard error holds text, the tool closes its output, or waitMs pass
  // without anything new; returns whether the text came.
  bool AwaitError(const std::string& text, int waitMs) {
    while (result_.err.find(text) == std::string::npos) {
      if (!CollectOutput(child_.output, result_, waitMs)) return false;
    }
    return true;
  }

  void Signal(int sig) const {
    if (child_.pid > 0) ::kill(child_.pid, sig);
  }

  // Waits for the tool to end, killing it (status 128 + 9) when it stays silent for waitMs.
  const CliResult& Finish(int waitMs) {
    if (child_.pid <= 0) return result_;
    while (CollectOutput(child_.output, result_, waitMs)) {
    }
    if (child_.output[0] >= 0 || child_.output[1] >= 0) ::kill(child_.pid, SIGKILL);
    for (int& fd : child_.output) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    if (child_.input >= 0) ::close(child_.input);
    child_.input = -1;
    int raw = 0;
    ::waitpid(child_.pid, &raw, 0);
    child_.pid = -1;
    result_.status = ExitStatus(raw);
    return result_;
  }

 private:
  Spawned child_;
  CliResult result_;
};

// Runs the tool on a pseudo-terminal, answering each prompt that contains a key of answers in
// turn. Returns everything the terminal showed and the exit status.
inline CliResult RunCliOnTerminal(const std::vector<std::string>& args,
                                  const std::vector<std::pair<std::string, std::string>>& answers) {
  return RunToolOnTerminal(CliArgs(args), answers, 20000);
}

// kryvane-cli with standard input and output redirected to files as a shell would ("" is
// /dev/null), under a fixed umask, with KPW=pw and the listed descriptors closed; returns the exit
// status and standard error.
inline CliResult RunRedirected(const std::vector<std::string>& args, const std::string& input = "",
                               const std::string& appendOutput = "", mode_t umaskValue = 022,
                               const std::vector<int>& closed = {}) {
  int err[2];
  if (::pipe2(err, O_CLOEXEC) != 0) return {};
  std::vector<char*> argv = Argv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::umask(umaskValue);
    const int in = ::open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
    const int out =
        ::open(appendOutput.empty() ? "/dev/null" : appendOutput.c_str(), O_WRONLY | O_APPEND);
    if (in < 0 || out < 0) ::_exit(95);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err[1], 2);
    ::putenv(const_cast<char*>("KPW=pw"));
    for (const int fd : closed) ::close(fd);
    ::execv(argv[0], argv.data());
    ::_exit(96);
  }
  ::close(err[1]);
  CliResult result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(err[0], buffer, sizeof buffer)) > 0;) {
    result.err.append(buffer, std::size_t(got));
  }
  ::close(err[0]);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  result.status = ExitStatus(raw);
  return result;
}

}  // namespace kryvane::test
