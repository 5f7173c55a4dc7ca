#include <iomanip>
#include <iostream>

#include "app/catalogue.h"
#include "cli/commands.h"

namespace kryvane::cli {

void AddListCommand(CLI::App& app, int* status) {
  auto* cmd = app.add_subcommand("list", "List the cipher and hash menus with their class facts");
  cmd->callback([status] {
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
    std::cout << "\nHashes (-H):\n";
    std::cout << "  pos  name       id  algorithm                 digest  menu text\n";
    for (const HashEntry& e : HashCatalogue()) {
      std::cout << "  " << std::setw(3) << e.position << "  " << std::left << std::setw(9)
                << e.shortName << std::right;
      const HashRef& h = e.hash;
      std::cout << "  " << std::setw(2) << h.id << "  " << std::left << std::setw(24) << h.algorithm
                << std::right << "  " << std::setw(6) << h.hashSize;
      std::cout << "  \"" << e.menuText << "\"\n";
    }
    *status = kExitOk;
  });
}

}  // namespace kryvane::cli
