// One registration function per subcommand; main.cpp wires them into the application.
#pragma once

namespace CLI {
class App;
}  // namespace CLI

namespace kryvane::cli {

// Each adds its subcommand to app; the callback stores the exit status in *status.
void AddListCommand(CLI::App& app, int* status);
void AddIdentifyCommand(CLI::App& app, int* status);
void AddSelftestCommand(CLI::App& app, int* status);
void AddEncryptCommand(CLI::App& app, int* status);
void AddDecryptCommand(CLI::App& app, int* status);
void AddHashCommand(CLI::App& app, int* status);
void AddTextCommand(CLI::App& app, int* status);
void AddConvertCommand(CLI::App& app, int* status);
void AddRecoverCommand(CLI::App& app, int* status);

}  // namespace kryvane::cli
