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

namespace kryvane::test {

struct CliResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

struct CliOptions {
  std::string input;             // standard input
  std::vector<std::string> env;  // extra NAME=VALUE entries
  bool unprivileged = false;     // as user nobody when we are root
};

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
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
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
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    return {};
  }
  std::vector<char*> argv = Argv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A new session has no controlling terminal, so the tool cannot ask for a passphrase.
    ::setsid();
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (const std::string& e : options.env) ::putenv(const_cast<char*>(e.c_str()));
    if (options.unprivileged && ::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(97);
    }
    ::execv(argv[0], argv.data());
    ::_exit(96);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  std::thread feeder([fd = in[1], data = options.input] {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t put = ::write(fd, data.data() + done, data.size() - done);
      if (put <= 0) break;
      done += std::size_t(put);
    }
    ::close(fd);
  });
  CliResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, std::size_t(got));
      }
    }
  }
  feeder.join();
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  result.status = ExitStatus(raw);
  return result;
}

// The tool running in the background, for tests that act while it works: its standard input stays
// open until Finish, so that a read of it would wait.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      return;
    }
    std::vector<char*> argv = Argv(args);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setsid();
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      ::execv(argv[0], argv.data());
      ::_exit(96);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input_ = in[1];
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;
  ~CliProcess() { Finish(0); }

  // Collects output until standard error holds text, the tool closes its output, or waitMs pass
  // without anything new; returns whether the text came.
  bool AwaitError(const std::string& text, int waitMs) {
    while (result_.err.find(text) == std::string::npos) {
      if (!Collect(waitMs)) return false;
    }
    return true;
  }

  void Signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // Waits for the tool to end, killing it (status 128 + 9) when it stays silent for waitMs.
  const CliResult& Finish(int waitMs) {
    if (pid_ <= 0) return result_;
    while (Collect(waitMs)) {
    }
    if (fds_[0] >= 0 || fds_[1] >= 0) ::kill(pid_, SIGKILL);
    for (int& fd : fds_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    if (input_ >= 0) ::close(input_);
    input_ = -1;
    int raw = 0;
    ::waitpid(pid_, &raw, 0);
    pid_ = -1;
    result_.status = ExitStatus(raw);
    return result_;
  }

 private:
  // Reads what is there within waitMs; false when nothing came or both streams are closed.
  bool Collect(int waitMs) {
    pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (::poll(p, 2, waitMs) <= 0) return false;
    std::string* sinks[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || p[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds_[i], buffer, sizeof buffer);
      if (got <= 0) {
        ::close(fds_[i]);
        fds_[i] = -1;
      } else {
        sinks[i]->append(buffer, std::size_t(got));
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int fds_[2] = {-1, -1};
  CliResult result_;
};

// Runs the tool on a pseudo-terminal, answering each prompt that contains a key of answers in
// turn. Returns everything the terminal showed and the exit status.
inline CliResult RunCliOnTerminal(const std::vector<std::string>& args,
                                  const std::vector<std::pair<std::string, std::string>>& answers) {
  std::vector<char*> argv = Argv(args);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execv(argv[0], argv.data());
    ::_exit(96);
  }
  CliResult result;
  std::size_t next = 0, scanned = 0;
  for (;;) {
    pollfd p = {master, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) break;
    char buffer[4096];
    const ssize_t got = ::read(master, buffer, sizeof buffer);
    if (got <= 0) break;  // EIO once the child has closed the terminal
    result.out.append(buffer, std::size_t(got));
    if (next < answers.size()) {
      const auto at = result.out.find(answers[next].first, scanned);
      if (at != std::string::npos) {
        scanned = at + answers[next].first.size();
        const std::string& reply = answers[next].second;
        if (::write(master, reply.data(), reply.size()) < 0) break;
        ++next;
      }
    }
  }
  ::close(master);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  result.status = ExitStatus(raw);
  return result;
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
