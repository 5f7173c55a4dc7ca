// Word lists and rule files opened as every command opens a file the user names: a FIFO's open
// does not hang without its writer, a folder or a link loop is refused, read errors are errors
// naming the file, never a quiet end of the list.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/recover/candidates.h"
#include "app/recover/rules.h"

namespace kryvane::recover {

// A word list as a candidate source with its rules; "-" is standard input. A regular file is
// read again for each share and after a restore; anything else (a pipe, a FIFO) is read once.
// identity: facts that tell this list from another without a word of it (for restore points).
// Throws IoError naming the file; cancel ends the wait for a FIFO's writer.
struct OpenedList {
  std::unique_ptr<CandidateSource> source;
  std::vector<std::string> identity;
};
OpenedList OpenWordlist(const std::string& path, RuleSet rules,
                        const std::atomic<bool>* cancel = nullptr);

// A rule file; an empty path is the one rule that changes nothing. Throws IoError naming the
// file, and RuleError (whose message the caller prefixes with the file) for a rule refused.
RuleSet ReadRuleFile(const std::string& path, const std::atomic<bool>* cancel = nullptr);

}  // namespace kryvane::recover
