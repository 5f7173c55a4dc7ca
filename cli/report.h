// How the tool speaks on standard error: the error that ends a command, its hints (chosen by the
// kind of failure from one table), warnings and notes, the exit statuses, and the one progress
// bar.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/error.h"

namespace kryvane::cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Ends a command: main prints "kryvane-cli: error: <message>" and the hints, and exits with status.
struct CommandError {
  int status;
  std::string message;
  std::vector<std::string> hints;
};

[[noreturn]] void Usage(std::string message, std::vector<std::string> hints = {});
[[noreturn]] void Failure(std::string message, std::vector<std::string> hints = {});
void PrintError(const std::string& message, const std::vector<std::string>& hints);
void PrintWarning(const std::string& message);
void PrintHint(const std::string& hint);
// "kryvane-cli: skipped: FILE: REASON", for a batch's files left alone.
void PrintSkipped(const std::string& file, const std::string& reason);

// The hints under a single file's error of this kind; chosen from the kind, never from the text.
std::vector<std::string> HintsFor(ErrorKind kind);
// What a batch's one-line error adds for this kind (after a space), or nothing: a batch shows no
// hint lines under each file.
std::string_view BatchHintFor(ErrorKind kind);

// Draws a progress bar on standard error; finishes the line when destroyed.
// The word as a shell reads it back (bare, single-quoted, or $'...' when it holds control
// characters), for commands printed as hints.
std::string ShellWord(const std::string& word);

class ProgressBar {
 public:
  // Files done of all, for a batch's bar.
  struct Files {
    std::size_t done;
    std::size_t total;
  };

  explicit ProgressBar(bool enabled);
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Bytes done of total (unknown for a stream); a batch adds its file count, and always shows
  // the bar.
  void Update(uint64_t done, std::optional<uint64_t> total, std::optional<Files> files = {});
  // A line of counts that are no bytes (a search's candidates) in the bar's place.
  void Show(const std::string& text);
  // On a terminal the bar vanishes, so that a success stays quiet and a summary starts on a clean
  // line; elsewhere its last state remains.
  void Finish();
  bool Enabled() const { return enabled_; }

 private:
  bool enabled_;
  bool terminal_;
  bool drawn_ = false;
};

}  // namespace kryvane::cli
