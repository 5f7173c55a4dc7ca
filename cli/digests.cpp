#include "cli/digests.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/base/file_util.h"
#include "app/base/text_util.h"

namespace kryvane::cli {

namespace {

// EscapeControls, except that tabs stay as they are: the *sum tools write them so, read no "\t",
// and a tab does nothing to a terminal. *controls tells whether anything but a backslash changed.
std::string EscapeKeepingTabs(std::string_view name, bool* controls) {
  std::string out;
  *controls = false;
  for (std::size_t at = 0;;) {
    const std::size_t tab = name.find('\t', at);
    const std::string_view piece = name.substr(at, tab == std::string_view::npos ? tab : tab - at);
    *controls = *controls || HasControls(piece);
    out += EscapeControls(piece);
    if (tab == std::string_view::npos) return out;
    out += '\t';
    at = tab + 1;
  }
}

}  // namespace

EscapedName EscapeDigestName(std::string_view name) {
  EscapedName out;
  bool controls = false;
  const std::string escaped = EscapeKeepingTabs(name, &controls);
  out.escaped = controls || name.find('\\') != std::string_view::npos;
  out.text = out.escaped ? escaped : std::string(name);
  return out;
}

std::string CheckedName(std::string_view name) {
  bool controls = false;
  const std::string escaped = EscapeKeepingTabs(name, &controls);
  if (!controls) return std::string(name);
  std::string shown = "\\";
  shown += escaped;
  return shown;
}

std::optional<std::string> CoreutilsTag(std::string_view shortName) {
  for (const std::string_view known : {"md5", "sha1", "sha256", "sha384", "sha512"}) {
    if (shortName == known) {
      std::string tag(known);
      for (char& c : tag) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
      }
      return tag;
    }
  }
  return std::nullopt;
}

std::string FormatDigestLine(std::string_view hex, std::string_view name) {
  const EscapedName escaped = EscapeDigestName(name);
  std::string line = escaped.escaped ? "\\" : "";
  line.append(hex);
  line += "  ";
  line += escaped.text;
  return line;
}

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The escapes of EscapeControls undone: \\, \n, \r, \t and \xHH.
std::optional<std::string> UnescapeName(std::string_view text) {
  std::string name;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        name += '\\';
        break;
      case 'n':
        name += '\n';
        break;
      case 'r':
        name += '\r';
        break;
      case 't':
        name += '\t';
        break;
      case 'x':
        if (i + 2 >= text.size() || !IsHexDigit(text[i + 1]) || !IsHexDigit(text[i + 2])) {
          return std::nullopt;
        }
        name += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
        i += 2;
        break;
      default:
        return std::nullopt;
    }
  }
  return name;
}

bool IsTagCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// "TAG (NAME) = HEX", read as coreutils reads it: the name ends at the last ')', since the BSD
// tools that first wrote the form do not escape names.
std::optional<DigestLine> ParseTaggedLine(std::string_view line) {
  std::size_t tagEnd = 0;
  while (tagEnd < line.size() && IsTagCharacter(line[tagEnd])) ++tagEnd;
  if (tagEnd == 0) return std::nullopt;
  std::size_t at = tagEnd;
  if (at < line.size() && line[at] == ' ') ++at;
  if (at >= line.size() || line[at] != '(') return std::nullopt;
  const std::size_t close = line.rfind(')');
  if (close == std::string_view::npos || close <= at + 1) return std::nullopt;
  DigestLine parsed;
  parsed.tag = std::string(line.substr(0, tagEnd));
  parsed.name = std::string(line.substr(at + 1, close - at - 1));
  std::string_view rest = line.substr(close + 1);
  while (rest.starts_with(' ') || rest.starts_with('\t')) rest.remove_prefix(1);
  if (!rest.starts_with('=')) return std::nullopt;
  rest.remove_prefix(1);
  while (rest.starts_with(' ') || rest.starts_with('\t')) rest.remove_prefix(1);
  if (rest.empty()) return std::nullopt;
  for (const char c : rest) {
    if (!IsHexDigit(c)) return std::nullopt;
  }
  parsed.hex = std::string(rest);
  return parsed;
}

std::optional<DigestLine> ParseUntaggedLine(std::string_view line) {
  std::size_t digits = 0;
  while (digits < line.size() && IsHexDigit(line[digits])) ++digits;
  // Hex digits, one space, then a space (text) or '*' (binary), then a name of at least one byte.
  if (digits == 0 || line.size() < digits + 3 || line[digits] != ' ') return std::nullopt;
  const char marker = line[digits + 1];
  if (marker != ' ' && marker != '*') return std::nullopt;
  DigestLine parsed;
  parsed.hex = std::string(line.substr(0, digits));
  parsed.binary = marker == '*';
  parsed.name = std::string(line.substr(digits + 2));
  return parsed;
}

}  // namespace

std::optional<DigestLine> ParseDigestLine(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  const bool escaped = line.starts_with('\\');
  if (escaped) line.remove_prefix(1);
  std::optional<DigestLine> parsed = ParseUntaggedLine(line);
  if (!parsed) parsed = ParseTaggedLine(line);
  if (!parsed) return std::nullopt;
  if (escaped) {
    std::optional<std::string> plain = UnescapeName(parsed->name);
    if (!plain) return std::nullopt;
    parsed->name = std::move(*plain);
  }
  // No file name holds a NUL, and open() would stop at it and check another file.
  if (parsed->name.find('\0') != std::string::npos) return std::nullopt;
  return parsed;
}

std::optional<std::string> FileDigest(const HashRef& ref, const std::string& name,
                                      std::string* error) {
  UniqueFd owned;
  int fd = STDIN_FILENO;
  if (name != "-") {
    owned = UniqueFd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!owned) {
      *error = FormatError(name, "open", ErrnoText(errno));
      return std::nullopt;
    }
    fd = owned.Get();
  }
  std::unique_ptr<Hash> hash = ref.Create();
  hash->Init();
  std::vector<uint8_t> buffer(1 << 16);
  FdReader reader(fd, name == "-" ? "standard input" : name);
  try {
    while (const std::size_t got = reader.Read(buffer.data(), buffer.size())) {
      hash->Update(buffer.data(), got);
      if (got < buffer.size()) break;
    }
  } catch (const IoError& e) {
    *error = e.what();
    return std::nullopt;
  }
  std::vector<uint8_t> digest(std::size_t(ref.hashSize / 8));
  hash->Final(digest.data());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

void DigestFilesInOrder(const HashRef& ref, const std::vector<std::string>& names, unsigned threads,
                        const std::function<void(std::size_t, DigestResult&)>& done) {
  const auto one = [&ref, &names](std::size_t i) {
    DigestResult r;
    r.hex = FileDigest(ref, names[i], &r.error);
    return r;
  };
  if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
  threads = unsigned(std::min<std::size_t>(threads, names.size()));
  if (threads <= 1) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      DigestResult r = one(i);
      done(i, r);
    }
    return;
  }
  std::vector<std::optional<DigestResult>> results(names.size());
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  std::vector<std::jthread> workers;
  for (unsigned t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      for (std::size_t i; (i = next.fetch_add(1)) < names.size();) {
        DigestResult r = one(i);
        std::lock_guard lock(mutex);
        results[i] = std::move(r);
        ready.notify_one();
      }
    });
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::optional<DigestResult> r;
    {
      std::unique_lock lock(mutex);
      ready.wait(lock, [&] { return results[i].has_value(); });
      r = std::move(results[i]);
      results[i].reset();
    }
    done(i, *r);
  }
}

}  // namespace kryvane::cli
