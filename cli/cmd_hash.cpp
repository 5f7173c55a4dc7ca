#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <memory>
#include <vector>

#include "app/file_util.h"
#include "cli/commands.h"
#include "cli/common.h"

namespace kryvane::cli {
namespace {

struct HashCommand {
  AlgorithmOptions algorithms;
  std::vector<std::string> files;

  int Run() const {
    const HashRef& ref = ResolveHash(algorithms.hash).hash;
    const std::vector<std::string> names = files.empty() ? std::vector<std::string>{"-"} : files;
    int status = kExitOk;
    for (const std::string& name : names) {
      std::string error;
      const std::string digest = Digest(ref, name, &error);
      if (!error.empty()) {
        PrintError(error, {});
        status = kExitFailed;
        continue;
      }
      std::cout << digest << "  " << name << "\n";
    }
    std::cout.flush();
    if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
    return status;
  }

  static std::string Digest(const HashRef& ref, const std::string& name, std::string* error) {
    UniqueFd owned;
    int fd = STDIN_FILENO;
    if (name != "-") {
      owned = UniqueFd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
      if (!owned) {
        *error = name + ": open: " + ErrnoText(errno);
        return {};
      }
      fd = owned.Get();
    }
    std::unique_ptr<Hash> hash = ref.Create();
    hash->Init();
    std::vector<uint8_t> buffer(1 << 16);
    for (;;) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0) {
        if (errno == EINTR) continue;
        *error = (name == "-" ? "standard input" : name) + ": read: " + ErrnoText(errno);
        return {};
      }
      if (got == 0) break;
      hash->Update(buffer.data(), std::size_t(got));
    }
    std::vector<uint8_t> digest(std::size_t(ref.hashSize / 8));
    hash->Final(digest.data());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t b : digest) {
      hex += kHex[b >> 4];
      hex += kHex[b & 15];
    }
    return hex;
  }
};

}  // namespace

void AddHashCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<HashCommand>();
  CLI::App* cmd = app.add_subcommand(
      "hash", "Print the digest of each FILE (standard input when none) as \"HEX  NAME\" lines");
  AddHashOption(*cmd, command->algorithms);
  cmd->add_option("FILE", command->files, "Files to hash; \"-\" is standard input");
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
