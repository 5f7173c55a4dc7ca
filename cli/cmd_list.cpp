#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/file_util.h"
#include "app/catalogue.h"
#include "cli/commands.h"
#include "cli/report.h"
#include "crypto/cpu.h"

namespace kryvane::cli {
namespace {

struct ListCommand {
  bool names = false;
  bool paths = false;
  std::string menu;  // "", "ciphers" or "hashes"

  bool Shows(const char* which) const { return menu.empty() || menu == which; }

  void PrintCiphers() const {
    if (names) {
      for (const CipherEntry& e : CipherCatalogue()) std::cout << e.shortName << "\n";
      return;
    }
    std::cout << "Ciphers (-c):\n";
    std::cout << "  pos  name       id  algorithm          key  block  menu text\n";
    for (const CipherEntry& e : CipherCatalogue()) {
      std::cout << "  " << std::setw(3) << e.position << "  " << std::left << std::setw(9)
                << e.shortName << std::right;
      const CipherRef& c = e.cipher;
      std::cout << "  " << std::setw(2) << c.id << "  " << std::left << std::setw(16) << c.algorithm
                << std::right << "  " << std::setw(4) << c.maxKeySize << "  " << std::setw(5)
                << (c.blockSize > 0 ? std::to_string(c.blockSize) : "-");
      std::cout << "  \"" << e.menuText << "\"\n";
    }
  }

  void PrintHashes() const {
    if (names) {
      for (const HashEntry& e : HashCatalogue()) std::cout << e.shortName << "\n";
      return;
    }
    std::cout << "Hashes (-H):\n";
    std::cout << "  pos  name       id  algorithm                 digest  menu text\n";
    for (const HashEntry& e : HashCatalogue()) {
      std::cout << "  " << std::setw(3) << e.position << "  " << std::left << std::setw(9)
                << e.shortName << std::right;
      const HashRef& h = e.hash;
      std::cout << "  " << std::setw(2) << h.id << "  " << std::left << std::setw(24) << h.algorithm
                << std::right << "  " << std::setw(6) << h.hashSize;
      std::cout << "  \"" << e.menuText << "\"\n";
    }
  }

  // The path each algorithm takes in this process: keying every algorithm once makes each
  // measure its paths (as a job's keying would), then the choices are read back.
  void PrintPaths() const {
    std::vector<uint8_t> key(256, 0x5A);
    std::vector<std::pair<std::string_view, std::string_view>> ciphers, hashes;
    for (const CipherEntry& e : CipherCatalogue()) {
      auto c = e.cipher.Create();
      c->Init(key.data(), uint32_t(std::min<int32_t>(e.cipher.maxKeySize, 256)));
      ciphers.emplace_back(e.shortName, c->Algorithm());
    }
    for (const HashEntry& e : HashCatalogue()) {
      auto h = e.hash.Create();
      h->Init();
      hashes.emplace_back(e.shortName, h->Algorithm());
    }
    const std::vector<cpu::Choice> choices = cpu::Choices();
    const auto find = [&choices](std::string_view algorithm) -> const cpu::Choice* {
      for (const cpu::Choice& c : choices) {
        if (c.algorithm == algorithm) return &c;
      }
      return nullptr;
    };
    std::cout << "Processor paths (highest allowed: " << cpu::CeilingText() << "):\n";
    std::cout << "  name       encrypt   decrypt   measured\n";
    const auto line = [&find](std::string_view name, std::string_view algorithm, bool twoWays) {
      std::cout << "  " << std::left << std::setw(9) << name << "  ";
      const cpu::Choice* c = find(algorithm);
      const std::string_view enc = c != nullptr ? cpu::IsaName(c->encrypt) : "portable";
      const std::string_view dec = c != nullptr ? cpu::IsaName(c->decrypt) : "portable";
      std::cout << std::setw(8) << enc << "  " << std::setw(8) << (twoWays ? dec : "-")
                << std::right;
      if (c != nullptr) {
        std::cout << "  " << std::fixed << std::setprecision(0) << c->microseconds << " us";
      } else {
        std::cout << "  -";
      }
      std::cout << "\n";
    };
    for (const auto& [name, algorithm] : ciphers) line(name, algorithm, true);
    for (const auto& [name, algorithm] : hashes) line(name, algorithm, false);
  }

  int Run() const {
    if (paths) {
      PrintPaths();
      std::cout.flush();
      if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
      return kExitOk;
    }
    if (Shows("ciphers")) PrintCiphers();
    if (Shows("ciphers") && Shows("hashes") && !names) std::cout << "\n";
    if (Shows("hashes")) PrintHashes();
    std::cout.flush();
    if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
    return kExitOk;
  }
};

}  // namespace

void AddListCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<ListCommand>();
  auto* cmd = app.add_subcommand("list", "List the cipher and hash menus with their class facts");
  cmd->add_option("MENU", command->menu, "Only this menu: ciphers or hashes")
      ->check(CLI::IsMember({"ciphers", "hashes"}));
  cmd->add_flag("--names", command->names,
                "Only the short names, one a line (what shell completions offer)");
  cmd->add_flag("--paths", command->paths,
                "The processor path each cipher and hash takes here (measured at first use; "
                "KRYVANE_CPU_PATH=portable|sse|avx2|avx512 sets the highest)")
      ->excludes("--names");
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
