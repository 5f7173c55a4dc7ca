// Runs a program as a child process (kryvane-cli, or an outside tool such as the packaged age tool
// for interoperability tests): with given standard input, or on a pseudo-terminal that answers its
// prompts.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kryvane::test {

struct ToolResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;  // standard output (on a terminal: everything it showed)
  std::string err;
};

struct ProcessOptions {
  std::string input;             // standard input
  std::vector<std::string> env;  // extra NAME=VALUE entries
  bool unprivileged = false;     // as user nobody when we are root
};

// Whether program is on PATH.
inline bool HaveProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string candidate = dirs.substr(start, end - start) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

inline std::vector<char*> ToolArgv(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

inline int ToolStatus(int raw) {
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// A child whose standard streams are pipes held by the parent.
struct Spawned {
  pid_t pid = -1;
  int input = -1;            // the child's standard input
  int output[2] = {-1, -1};  // its standard output and error
};

// Starts args[0] (a path, or searched on PATH when it has no slash) in a new session, so it has no
// controlling terminal and cannot ask for anything. A child that cannot start exits 127 (97 when
// it could not drop privileges).
inline Spawned Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     bool unprivileged) {
  Spawned s;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    return s;
  }
  std::vector<char*> argv = ToolArgv(args);
  s.pid = ::fork();
  if (s.pid == 0) {
    ::setsid();
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (unprivileged && ::geteuid() == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(97);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  s.input = in[1];
  s.output[0] = out[0];
  s.output[1] = err[0];
  return s;
}

// Reads what the child's output streams hold within waitMs (-1: until something comes) into
// result; closes a stream at its end. False when nothing came or both are closed.
inline bool CollectOutput(int (&fds)[2], ToolResult& result, int waitMs) {
  if (fds[0] < 0 && fds[1] < 0) return false;
  pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
  if (::poll(p, 2, waitMs) <= 0) return false;
  std::string* sinks[2] = {&result.out, &result.err};
  for (int i = 0; i < 2; ++i) {
    if (fds[i] < 0 || p[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t got = ::read(fds[i], buffer, sizeof buffer);
    if (got <= 0) {
      ::close(fds[i]);
      fds[i] = -1;
    } else {
      sinks[i]->append(buffer, std::size_t(got));
    }
  }
  return true;
}

// Runs args[0] to its end (see Spawn) with the given standard input and environment.
inline ToolResult RunProcess(const std::vector<std::string>& args,
                             const ProcessOptions& options = {}) {
  Spawned child = Spawn(args, options.env, options.unprivileged);
  if (child.pid < 0) return {};
  // A tool may well stop reading before its input ends (a refusal after the first blocks): the
  // feeder's write then fails with EPIPE, which must not kill the test.
  ::signal(SIGPIPE, SIG_IGN);
  std::thread feeder([fd = child.input, &input = options.input] {
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t put = ::write(fd, input.data() + done, input.size() - done);
      if (put <= 0) break;
      done += std::size_t(put);
    }
    ::close(fd);
  });
  ToolResult result;
  while (CollectOutput(child.output, result, -1)) {
  }
  feeder.join();
  int raw = 0;
  ::waitpid(child.pid, &raw, 0);
  result.status = ToolStatus(raw);
  return result;
}

// Runs args[0] (searched on PATH) without a controlling terminal.
inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& input = {}) {
  ProcessOptions options;
  options.input = input;
  return RunProcess(args, options);
}

// Runs args[0] on a pseudo-terminal, answering each prompt that contains a key of answers in
// turn (the answer should end with "\n"); gives up after waitMs of silence.
inline ToolResult RunToolOnTerminal(const std::vector<std::string>& args,
                                    const std::vector<std::pair<std::string, std::string>>& answers,
                                    int waitMs = 60000) {
  std::vector<char*> argv = ToolArgv(args);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ToolResult result;
  std::size_t next = 0, scanned = 0;
  for (;;) {
    pollfd p = {master, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) break;
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
  result.status = ToolStatus(raw);
  return result;
}

}  // namespace kryvane::test
