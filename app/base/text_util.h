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

// Text fit for one line of output: a backslash becomes \\, line feed, carriage return and tab
// become \n, \r and \t, and the bytes of every other control character become \xHH: the C0
// controls and DEL, the C1 controls (U+0080-U+009F, and the raw bytes 0x80-0x9F that are no
// UTF-8), the line and paragraph separators, and the bidirectional marks, overrides and isolates
// (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069). The rest is kept, other bytes that
// are no UTF-8 included.
// So a file name can neither break a line-based format, forge a line of its own, send the
// terminal an escape sequence, nor show itself in another order.
std::string EscapeControls(std::string_view s);

// Whether EscapeControls changes s in more than its backslashes.
bool HasControls(std::string_view s);

}  // namespace kryvane
