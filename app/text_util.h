// Small text helpers shared by the settings file, the passphrase options and the menus.
#pragma once

#include <string>
#include <string_view>

namespace kryvane {

// ASCII letters compared without regard to case, as settings files and option values are.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Without leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view s);

// Without one trailing line end ("\r\n" or "\n"), as a passphrase file or a text ends.
std::string_view StripOneLineEnd(std::string_view s);

// Text fit for one line of output: control characters become \n, \r, \t or \xHH and a backslash
// becomes \\, so a file name cannot break a line-based format or forge a line of its own.
std::string EscapeControls(std::string_view s);

}  // namespace kryvane
