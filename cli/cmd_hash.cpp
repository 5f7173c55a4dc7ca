#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <memory>
#include <vector>

#include "app/base/io.h"
#include "cli/commands.h"
#include "cli/digests.h"
#include "cli/options.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

struct HashCommand {
  AlgorithmOptions algorithms;
  std::vector<std::string> files;
  bool check = false;
  unsigned jobs = 0;

  int Run() const {
    const HashEntry& entry = ResolveHash(algorithms.hash);
    const std::vector<std::string> names = files.empty() ? std::vector<std::string>{"-"} : files;
    if (check) return CheckDigestLists(entry, names, jobs);
    int status = kExitOk;
    DigestFilesInOrder(entry.hash, names, jobs, [&](std::size_t i, DigestResult& r) {
      if (!r.hex) {
        PrintError(r.error, {});
        status = kExitFailed;
        return;
      }
      std::cout << FormatDigestLine(*r.hex, names[i]) << "\n";
    });
    std::cout.flush();
    if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
    return status;
  }
};

}  // namespace

void AddHashCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<HashCommand>();
  CLI::App* cmd = app.add_subcommand(
      "hash", "Print the digest of each FILE (standard input when none) as \"HEX  NAME\" lines");
  AddHashOption(*cmd, command->algorithms);
  cmd->add_flag("--check", command->check,
                "Read \"HEX  NAME\" lines from each FILE and verify the files they name");
  cmd->add_option("-j,--jobs", command->jobs,
                  "Files hashed at once (default: one per core; output stays in order)")
      ->check(CLI::Range(1u, 1024u));
  cmd->add_option("FILE", command->files,
                  "Files to hash (or digest lists); \"-\" is standard input");
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
