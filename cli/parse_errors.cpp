#include "cli/parse_errors.h"

#include <string>
#include <vector>

#include "cli/report.h"

namespace kryvane::cli {
namespace {

constexpr const char* kHelpHint =
    "'kryvane-cli --help' or 'kryvane-cli COMMAND --help' shows usage";

std::string Quoted(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "'" : " '") + w + "'";
  return text;
}

// The command line's path of commands, from the tool itself to the last command given.
std::vector<CLI::App*> CommandPath(CLI::App& app) {
  std::vector<CLI::App*> path = {&app};
  for (;;) {
    const std::vector<CLI::App*> given = path.back()->get_subcommands();
    if (given.empty()) return path;
    path.push_back(given.front());
  }
}

std::string CommandList(CLI::App& command) {
  std::string names;
  // Option groups are nameless subcommands to the parser; they are not commands.
  for (const CLI::App* sub :
       command.get_subcommands([](CLI::App* sub) { return !sub->get_name().empty(); })) {
    names += (names.empty() ? "" : ", ") + sub->get_name();
  }
  return names;
}

}  // namespace

CommandError DescribeParseError(CLI::App& app, const CLI::ParseError& error) {
  const std::vector<CLI::App*> path = CommandPath(app);
  CLI::App& last = *path.back();
  const std::string lastName = &last == &app ? "kryvane-cli" : "kryvane-cli " + last.get_name();
  if (last.get_require_subcommand_min() > 0 && last.get_subcommands().empty()) {
    const std::vector<std::string> left = last.remaining();
    const std::string hint = "the commands of '" + lastName + "' are " + CommandList(last);
    if (left.empty()) return {kExitUsage, "a command is required", {hint, kHelpHint}};
    if (left.front().starts_with('-')) {
      return {kExitUsage, "unknown option '" + left.front() + "'", {kHelpHint}};
    }
    return {kExitUsage, "unknown command '" + left.front() + "'", {hint}};
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    // The parser's own message lists the arguments last first; the commands still hold them in
    // the order given.
    for (CLI::App* command : path) {
      const std::vector<std::string> left = command->remaining();
      if (left.empty()) continue;
      return {kExitUsage,
              (left.size() == 1 ? "unexpected argument " : "unexpected arguments ") + Quoted(left),
              {kHelpHint}};
    }
  }
  return {kExitUsage, error.what(), {kHelpHint}};
}

}  // namespace kryvane::cli
