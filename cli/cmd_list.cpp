#include <cerrno>
#include <iomanip>
#include <iostream>
#include <memory>

#include "app/catalogue.h"
#include "app/file_util.h"
#include "cli/commands.h"
#include "cli/common.h"

namespace kryvane::cli {
namespace {

struct ListCommand {
  bool names = false;
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

  int Run() const {
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
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
