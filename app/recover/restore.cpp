#include "app/recover/restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "app/base/atomic_output.h"
#include "app/base/file_util.h"
#include "app/base/io.h"
#include "hashes/sha256.h"

namespace kryvane {
namespace {

constexpr std::string_view kHeader = "# kryvane-cli recover: where a search stopped\n";
// Enough of the head to tell files apart; identify and recover read at least this much.
constexpr std::size_t kIdentityBytes = 4096;

std::string Hex(const uint8_t* p, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(n * 2);
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

std::string Sha256Hex(std::string_view a, std::string_view b = {}) {
  Sha256 h;
  h.Init();
  h.Update(a.data(), a.size());
  h.Update(b.data(), b.size());
  uint8_t digest[32];
  h.Final(digest);
  return Hex(digest, sizeof digest);
}

// A value on one line: the source's name may hold a line end, which must not start a key.
std::string OneLine(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = '?';
  }
  return out;
}

}  // namespace

std::string SpaceFingerprint(const std::vector<std::string>& facts) {
  std::string joined;
  for (const std::string& f : facts) {
    // Length-prefixed, so that no two lists of facts join into the same text.
    joined += std::to_string(f.size());
    joined += ':';
    joined += f;
  }
  return Sha256Hex("kryvane recover space 1\n", joined);
}

std::string RestoreFolder(bool create) {
  std::string base;
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
    base = state;
  } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
    base = std::string(home) + "/.local/state";
  } else {
    throw IoError("restore point", "find the state folder",
                  "neither XDG_STATE_HOME nor HOME is set");
  }
  const std::string folder = base + "/kryvane/recover";
  if (create) {
    // Each missing step is made private: what it will hold tells which files the user lost the
    // passphrase of.
    for (std::size_t at = 1; at <= folder.size(); ++at) {
      if (at != folder.size() && folder[at] != '/') continue;
      const std::string step = folder.substr(0, at);
      if (::mkdir(step.c_str(), 0700) != 0 && errno != EEXIST) {
        throw IoError(step, "create folder", errno);
      }
    }
  }
  return folder;
}

std::string RestoreFileName(std::span<const uint8_t> head, uint64_t size) {
  const std::span<const uint8_t> used = head.first(std::min(head.size(), kIdentityBytes));
  const std::string sizeText = std::to_string(size) + "\n";
  return Sha256Hex(sizeText,
                   std::string_view(reinterpret_cast<const char*>(used.data()), used.size()))
             .substr(0, 32) +
         ".restore";
}

void SaveRestorePoint(const std::string& folder, const std::string& name,
                      const RestorePoint& point) {
  std::string text(kHeader);
  text += "position=" + std::to_string(point.position) + "\n";
  text += "fingerprint=" + OneLine(point.fingerprint) + "\n";
  text += "source=" + OneLine(point.source) + "\n";
  text += "search=" + OneLine(point.description) + "\n";
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) throw IoError(folder, "open", errno);
  const std::string display = folder + "/" + name;
  AtomicOutput out(dir.Get(), name, 0600, display);
  // A restore file that someone opened up must not stay readable to others.
  out.LimitMode(0600);
  FdWriter(out.Fd(), display).Write(text.data(), text.size());
  out.Commit();
}

std::optional<RestorePoint> LoadRestorePoint(const std::string& folder, const std::string& name) {
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) {
    if (errno == ENOENT) return std::nullopt;
    throw IoError(folder, "open", errno);
  }
  const std::string display = folder + "/" + name;
  struct stat st {};
  if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return std::nullopt;
    throw IoError(display, "open", errno);
  }
  UniqueFd fd = OpenRegularFile(dir.Get(), name, display);
  const Secret text = ReadAllSecret(fd.Get(), display, 64 * 1024);
  std::string_view rest = text.View();
  if (!rest.starts_with(kHeader)) throw IoError(display, "read", "not a restore point");
  rest.remove_prefix(kHeader.size());
  RestorePoint point;
  bool havePosition = false;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "position") {
      const auto [ptr, ec] =
          std::from_chars(value.data(), value.data() + value.size(), point.position);
      havePosition = ec == std::errc() && ptr == value.data() + value.size();
    } else if (key == "fingerprint") {
      point.fingerprint = value;
    } else if (key == "source") {
      point.source = value;
    } else if (key == "search") {
      point.description = value;
    }
  }
  if (!havePosition || point.fingerprint.size() != 64) {
    throw IoError(display, "read", "not a restore point");
  }
  return point;
}

void RemoveRestorePoint(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw IoError(path, "delete", errno);
}

}  // namespace kryvane
