// The words of a usage error that the command-line parser found.
#pragma once

#include <CLI/CLI.hpp>

#include "cli/report.h"

namespace kryvane::cli {

// Names an unknown command or option with the commands there are, and lists unexpected arguments
// in the order given; other parse errors keep the parser's message.
CommandError DescribeParseError(CLI::App& app, const CLI::ParseError& error);

}  // namespace kryvane::cli
