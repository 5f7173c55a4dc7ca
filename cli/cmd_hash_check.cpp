#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "app/io.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/digests.h"

namespace kryvane::cli {
namespace {

bool SameHex(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'F' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string Plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

struct Checker {
  const HashEntry& hash;
  std::size_t mismatched = 0, unreadable = 0, malformed = 0;
  bool wrongLength = false;

  void Verify(const DigestLine& line) {
    const EscapedName shown = EscapeDigestName(line.name);
    const std::string prefix = (shown.escaped ? "\\" : "") + shown.text + ": ";
    std::string error;
    const std::optional<std::string> digest = FileDigest(hash.hash, line.name, &error);
    if (!digest) {
      PrintError(error, {});
      std::cout << prefix << "FAILED open or read\n";
      ++unreadable;
    } else if (SameHex(*digest, line.hex)) {
      std::cout << prefix << "OK\n";
    } else {
      std::cout << prefix << "FAILED\n";
      ++mismatched;
    }
  }

  // A list of digests may be long, but not endless.
  static std::string ReadList(int fd, const std::string& name) {
    try {
      return std::string(ReadAllSecret(fd, name, std::size_t(256) << 20).View());
    } catch (const IoError& e) {
      Failure(e.what());
    }
  }

  // Returns whether the list held at least one digest line of this hash.
  bool CheckList(const std::string& list) {
    const std::string shown = list == "-" ? "standard input" : list;
    std::string text;
    if (list == "-") {
      text = ReadList(STDIN_FILENO, shown);
    } else {
      UniqueFd fd(::open(list.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
      if (!fd) {
        PrintError(list + ": open: " + ErrnoText(errno), {});
        ++unreadable;
        return true;
      }
      text = ReadList(fd.Get(), shown);
    }
    const std::size_t digits = std::size_t(hash.hash.hashSize / 4);
    bool any = false;
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      const std::string_view line(text.data() + at, end - at);
      at = end + 1;
      ++number;
      if (line.empty() || line == "\r" || line.starts_with('#')) continue;
      const std::optional<DigestLine> parsed = ParseDigestLine(line);
      const std::string where = shown + ":" + std::to_string(number) + ": ";
      if (!parsed) {
        PrintError(where + "not a \"HEX  NAME\" line", {});
        ++malformed;
        continue;
      }
      if (parsed->hex.size() != digits) {
        PrintError(where + "a digest of " + std::to_string(parsed->hex.size()) +
                       " hex digits, but " + std::string(hash.shortName) + " gives " +
                       std::to_string(digits),
                   {});
        ++malformed;
        wrongLength = true;
        continue;
      }
      any = true;
      Verify(*parsed);
    }
    return any;
  }
};

}  // namespace

int CheckDigestLists(const HashEntry& hash, const std::vector<std::string>& lists) {
  Checker checker{hash};
  bool noneAtAll = true;
  for (const std::string& list : lists) {
    if (checker.CheckList(list)) noneAtAll = false;
  }
  std::cout.flush();
  if (!std::cout) Failure("standard output: write: " + ErrnoText(errno));
  if (checker.mismatched > 0) {
    PrintWarning(Plural(checker.mismatched, "computed digest did NOT match",
                        "computed digests did NOT match"));
  }
  if (checker.unreadable > 0) {
    PrintWarning(Plural(checker.unreadable, "listed file could not be read",
                        "listed files could not be read"));
  }
  if (checker.malformed > 0) {
    PrintWarning(Plural(checker.malformed, "line is improperly formatted",
                        "lines are improperly formatted"));
  }
  if (noneAtAll) {
    std::vector<std::string> hints;
    if (checker.wrongLength) {
      hints.push_back(
          "-H names the hash the list was made with; 'kryvane-cli list hashes' shows "
          "the digest sizes");
    }
    PrintError("no digest lines of " + std::string(hash.shortName) + " to check", hints);
    return kExitFailed;
  }
  return checker.mismatched + checker.unreadable + checker.malformed > 0 ? kExitFailed : kExitOk;
}

}  // namespace kryvane::cli
