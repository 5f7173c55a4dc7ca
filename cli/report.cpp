#include "cli/report.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/base/text_util.h"

namespace kryvane::cli {
namespace {

// What the user can do about a failure of each kind. A single file's error shows the hints as
// lines of their own; a batch's shows batchNote at the end of the file's one line.
struct KindHints {
  ErrorKind kind;
  std::vector<std::string_view> hints;
  std::string_view batchNote;
};

const std::vector<KindHints>& HintTable() {
  static const std::vector<KindHints> table = {
      {ErrorKind::kMismatch, {"type the same passphrase twice"}, {}},
      {ErrorKind::kSameFile,
       {"write to another file; it replaces the target once it is complete"},
       {}},
      {ErrorKind::kCancelled,
       {"stopped by a signal; the target was left as it was and the source kept"},
       {}},
      {ErrorKind::kSuspectResult,
       {"check the passphrase, -c and -H; the source was kept",
        "--force converts anyway, for a file that is itself random-looking"},
       "(check the passphrase, -c and -H; --force converts anyway)"},
      {ErrorKind::kSourceKept, {"the target was written; the source was kept"}, {}},
      {ErrorKind::kSourceChanged, {"the target was written"}, {}},
  };
  return table;
}

const KindHints* RowFor(ErrorKind kind) {
  for (const KindHints& row : HintTable()) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

}  // namespace

[[noreturn]] void Usage(std::string message, std::vector<std::string> hints) {
  if (hints.empty()) hints.emplace_back("'kryvane-cli COMMAND --help' shows the usage");
  throw CommandError{kExitUsage, std::move(message), std::move(hints)};
}

[[noreturn]] void Failure(std::string message, std::vector<std::string> hints) {
  throw CommandError{kExitFailed, std::move(message), std::move(hints)};
}

// Messages hold file names, which may hold anything: escaped, each stays one line.
void PrintError(const std::string& message, const std::vector<std::string>& hints) {
  std::cerr << "kryvane-cli: error: " << EscapeControls(message) << "\n";
  for (const std::string& hint : hints) PrintHint(hint);
}

void PrintWarning(const std::string& message) {
  std::cerr << "kryvane-cli: warning: " << EscapeControls(message) << "\n";
}

void PrintHint(const std::string& hint) {
  std::cerr << "kryvane-cli: hint: " << EscapeControls(hint) << "\n";
}

void PrintSkipped(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "kryvane-cli: skipped: %s: %s\n", EscapeControls(file).c_str(),
               EscapeControls(reason).c_str());
}

std::vector<std::string> HintsFor(ErrorKind kind) {
  const KindHints* row = RowFor(kind);
  if (row == nullptr) return {};
  return {row->hints.begin(), row->hints.end()};
}

std::string_view BatchHintFor(ErrorKind kind) {
  const KindHints* row = RowFor(kind);
  return row != nullptr ? row->batchNote : std::string_view();
}

// The word as a shell reads it back: bare when it is made of safe characters, else single-quoted,
// or, when it holds control characters, in bash's $'...' with the escapes of messages, so that a
// file name cannot act on the terminal that shows the command.
std::string ShellWord(const std::string& word) {
  if (HasControls(word)) {
    std::string quoted = "$'";
    for (const char c : EscapeControls(word))
      quoted += c == '\'' ? std::string("\\'") : std::string(1, c);
    return quoted + "'";
  }
  const bool safe = !word.empty() && word.find_first_not_of(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789_-+=.,/:@%") == std::string::npos;
  if (safe) return word;
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ProgressBar::ProgressBar(bool enabled)
    : enabled_(enabled), terminal_(::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
  Finish();
}

void ProgressBar::Finish() {
  if (!drawn_) return;
  std::fputs(terminal_ ? "\r\033[K" : "\n", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressBar::Update(uint64_t done, std::optional<uint64_t> total, std::optional<Files> files) {
  if (!enabled_) return;
  constexpr int kWidth = 30;
  constexpr double kMiB = 1024.0 * 1024.0;
  char line[200];
  if (files || (total && *total > 0)) {
    const uint64_t whole = total.value_or(0);
    const double fraction = whole > 0 ? double(done) / double(whole) : 0.0;
    std::string bar(std::size_t(fraction * kWidth), '#');
    bar.resize(kWidth, '.');
    const int n = std::snprintf(line, sizeof line, "\r[%s] %3d%%  %.1f / %.1f MiB", bar.c_str(),
                                int(fraction * 100), double(done) / kMiB, double(whole) / kMiB);
    if (files && n > 0 && std::size_t(n) < sizeof line) {
      std::snprintf(line + n, sizeof line - std::size_t(n), "  %zu / %zu files", files->done,
                    files->total);
    }
  } else {
    std::snprintf(line, sizeof line, "\r%.1f MiB", double(done) / kMiB);
  }
  std::fputs(line, stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressBar::Show(const std::string& text) {
  if (!enabled_) return;
  std::fputc('\r', stderr);
  std::fputs(EscapeControls(text).c_str(), stderr);
  if (terminal_) std::fputs("\033[K", stderr);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace kryvane::cli
