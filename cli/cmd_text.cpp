#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <iostream>
#include <memory>

#include "app/base/io.h"
#include "app/base/text_util.h"
#include "cli/commands.h"
#include "cli/keys.h"
#include "cli/options.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

struct TextCommand {
  bool encrypt = true;
  AlgorithmOptions algorithms;
  PassphraseOptions passphrase;
  std::optional<std::string> text;

  int Run() const {
    // Options first: a mistake must not wait for standard input to end.
    const KeyChoice key = ObtainKey(algorithms, passphrase, !text.has_value());
    std::unique_ptr<Cipher> cipher = KeyedCipher(key);
    Secret input;
    if (text) {
      input = Secret(*text);
    } else {
      try {
        input = ReadAllSecret(STDIN_FILENO, "standard input");
      } catch (const IoError& e) {
        Failure(e.what());
      }
      input.Resize(StripOneLineEnd(input.View()).size());
    }
    const std::string output =
        encrypt ? cipher->EncryptText(input.View()) : cipher->DecryptText(input.View());
    cipher->Wipe();
    std::cout << output << "\n";
    std::cout.flush();
    if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
    return kExitOk;
  }
};

void AddDirection(CLI::App& text, bool encrypt, int* status) {
  auto command = std::make_shared<TextCommand>();
  command->encrypt = encrypt;
  CLI::App* cmd = text.add_subcommand(
      encrypt ? "encrypt" : "decrypt",
      encrypt ? "Encrypt TEXT and print it as Base64" : "Decrypt Base64 TEXT and print the text");
  AddCipherOption(*cmd, command->algorithms);
  AddHashOption(*cmd, command->algorithms);
  AddPassphraseOptions(*cmd, command->passphrase);
  cmd->add_option("TEXT", command->text,
                  encrypt
                      ? "The text (standard input, less one trailing line end, when not "
                        "given); on the command line other local users can read it, so give a "
                        "secret text on standard input"
                      : "The text (standard input, less one trailing line end, when not given)");
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace

void AddTextCommand(CLI::App& app, int* status) {
  CLI::App* text =
      app.add_subcommand("text", "Encrypt a text into Base64 or decrypt Base64 back into text");
  text->require_subcommand(1);
  AddDirection(*text, true, status);
  AddDirection(*text, false, status);
}

}  // namespace kryvane::cli
