#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include "app/base/io.h"
#include "cli/digests.h"
#include "cli/report.h"

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

// Reads a list one line at a time, so that a list of any length takes little memory and one on a
// terminal or pipe is checked as it comes.
class LineReader {
 public:
  static constexpr std::size_t kMaxLine = 64 * 1024;  // far beyond any escaped path

  LineReader(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}

  // The next line without its "\n" (the last may lack one); false at the end, and false with
  // *tooLong set at a line longer than kMaxLine: no digest list holds one, and reading on could
  // go on for good (a list that is /dev/zero).
  bool Next(std::string* line, bool* tooLong) {
    line->clear();
    *tooLong = false;
    for (;;) {
      if (at_ == end_) {
        if (ended_) return !line->empty();
        at_ = 0;
        end_ = Fill();
        if (end_ == 0) {
          ended_ = true;
          return !line->empty();
        }
      }
      const char* from = buffer_.data() + at_;
      const auto* feed = static_cast<const char*>(std::memchr(from, '\n', end_ - at_));
      const std::size_t take = feed != nullptr ? std::size_t(feed - from) : end_ - at_;
      if (take > kMaxLine - line->size()) {
        *tooLong = true;
        return false;
      }
      line->append(from, take);
      at_ += take;
      if (feed != nullptr) {
        ++at_;
        return true;
      }
    }
  }

 private:
  // What one read gives: a pipe or terminal is not waited on for a full buffer.
  std::size_t Fill() {
    for (;;) {
      const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got >= 0) return std::size_t(got);
      if (errno != EINTR) throw IoError(name_, "read", errno);
    }
  }

  int fd_;
  std::string name_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  std::size_t at_ = 0, end_ = 0;
  bool ended_ = false;
};

struct Checker {
  const HashEntry& hash;
  const std::optional<std::string> tag = CoreutilsTag(hash.shortName);
  std::size_t mismatched = 0, unreadable = 0, malformed = 0;
  bool wrongLength = false;
  std::string otherTag = {};  // a BSD-form line of another hash, for the hint

  unsigned threads = 1;
  // Lines of a list in a regular file wait here to be checked a batch at a time, on the worker
  // threads; a list from a pipe or terminal is checked a line at a time, as it comes.
  std::vector<DigestLine> pending = {};
  std::size_t batch = 1;

  void Verify(DigestLine line) {
    pending.push_back(std::move(line));
    if (pending.size() >= batch) Flush();
  }

  void Flush() {
    if (pending.empty()) return;
    std::vector<std::string> names;
    names.reserve(pending.size());
    for (const DigestLine& line : pending) names.push_back(line.name);
    DigestFilesInOrder(hash.hash, names, threads, [&](std::size_t i, DigestResult& r) {
      const std::string prefix = CheckedName(pending[i].name) + ": ";
      if (!r.hex) {
        PrintError(r.error, {});
        std::cout << prefix << "FAILED open or read\n";
        ++unreadable;
      } else if (SameHex(*r.hex, pending[i].hex)) {
        std::cout << prefix << "OK\n";
      } else {
        std::cout << prefix << "FAILED\n";
        ++mismatched;
      }
    });
    pending.clear();
  }

  void Malformed(const std::string& where, const std::string& what) {
    Flush();  // the lines before it are reported first
    PrintError(where + what, {});
    ++malformed;
  }

  // Returns whether the list held at least one digest line of this hash.
  bool CheckList(const std::string& list) {
    const std::string shown = list == "-" ? "standard input" : list;
    UniqueFd owned;
    int fd = STDIN_FILENO;
    if (list != "-") {
      owned = UniqueFd(::open(list.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
      if (!owned) {
        PrintError(list + ": open: " + ErrnoText(errno), {});
        ++unreadable;
        return true;
      }
      fd = owned.Get();
    }
    struct stat st {};
    const unsigned workers =
        threads > 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
    batch = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? std::size_t(64) * workers : 1;
    LineReader lines(fd, shown);
    const std::size_t digits = std::size_t(hash.hash.hashSize / 4);
    bool any = false;
    std::size_t number = 0;
    std::string line;
    bool tooLong = false;
    try {
      while (lines.Next(&line, &tooLong)) {
        ++number;
        const std::string where = shown + ":" + std::to_string(number) + ": ";
        if (line.empty() || line == "\r" || line.starts_with('#')) continue;
        const std::optional<DigestLine> parsed = ParseDigestLine(line);
        if (!parsed) {
          Malformed(where, "not a \"HEX  NAME\" or \"TAG (NAME) = HEX\" line");
          continue;
        }
        if (!parsed->tag.empty() && parsed->tag != tag) {
          Malformed(where, "a line of " + parsed->tag + ", but this check is of " +
                               std::string(hash.shortName));
          if (otherTag.empty()) otherTag = parsed->tag;
          continue;
        }
        if (parsed->hex.size() != digits) {
          Malformed(where, "a digest of " + std::to_string(parsed->hex.size()) +
                               " hex digits, but " + std::string(hash.shortName) + " gives " +
                               std::to_string(digits));
          wrongLength = true;
          continue;
        }
        any = true;
        Verify(std::move(*parsed));
      }
      Flush();
      if (tooLong) {
        Malformed(shown + ":" + std::to_string(number + 1) + ": ",
                  "a line of more than " + std::to_string(LineReader::kMaxLine / 1024) +
                      " KiB, so no list of digests; the rest is not read");
      }
    } catch (const IoError& e) {
      Flush();
      PrintError(e.what(), {});
      ++unreadable;
      return true;
    }
    return any;
  }
};

}  // namespace

int CheckDigestLists(const HashEntry& hash, const std::vector<std::string>& lists,
                     unsigned threads) {
  Checker checker{hash};
  checker.threads = threads;
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
    if (!checker.otherTag.empty()) {
      std::string option;
      for (const HashEntry& e : HashCatalogue()) {
        if (CoreutilsTag(e.shortName) == checker.otherTag) option = std::string(e.shortName);
      }
      hints.push_back(option.empty()
                          ? std::string("the form \"TAG (NAME) = HEX\" is read for md5, sha1, "
                                        "sha256, sha384 and sha512, the hashes coreutils names so")
                          : "the list is of " + checker.otherTag + ": check it with -H " + option);
    } else if (checker.wrongLength) {
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
