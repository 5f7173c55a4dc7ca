// Runs an outside program (such as the packaged age tool) for interoperability tests: with given
// standard input, or on a pseudo-terminal that answers its prompts.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
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

// Runs args[0] (searched on PATH) without a controlling terminal.
inline ToolResult RunTool(const std::vector<std::string>& args, const std::string& input = {}) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    return {};
  }
  std::vector<char*> argv = ToolArgv(args);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  std::thread feeder([fd = in[1], &input] {
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t put = ::write(fd, input.data() + done, input.size() - done);
      if (put <= 0) break;
      done += std::size_t(put);
    }
    ::close(fd);
  });
  ToolResult result;
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
  result.status = ToolStatus(raw);
  return result;
}

// Runs args[0] on a pseudo-terminal, answering each prompt that contains a key of answers in
// turn (the answer should end with "\n").
inline ToolResult RunToolOnTerminal(
    const std::vector<std::string>& args,
    const std::vector<std::pair<std::string, std::string>>& answers) {
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
    if (::poll(&p, 1, 60000) <= 0) break;
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
