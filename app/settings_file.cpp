#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "app/file_util.h"
#include "app/passphrase.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct Line {
  std::string text;
  std::string end;  // "\r\n", "\n" or empty for a last line without one
};

// Erases a string that may hold the passphrase when it goes.
struct ErasedString {
  std::string s;
  ErasedString() = default;
  ErasedString(const ErasedString&) = delete;
  ErasedString& operator=(const ErasedString&) = delete;
  ~ErasedString() { EraseString(s); }
};

// The file holds the passphrase, so every line is erased when the profile goes.
struct Profile {
  bool exists = false;
  bool bom = false;
  std::string lineEnd = "\r\n";
  std::vector<Line> lines;

  Profile() = default;
  Profile(Profile&&) = default;
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;
  ~Profile() {
    for (Line& line : lines) EraseString(line.text);
  }
};

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The section name of a "[Name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  return Trim(close == std::string_view::npos ? line : line.substr(0, close));
}

// The key and raw value of a "Key=Value" line; comments and other lines give nothing.
std::optional<std::pair<std::string_view, std::string_view>> Entry(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::make_pair(Trim(line.substr(0, eq)), line.substr(eq + 1));
}

std::string_view Unquote(std::string_view raw) {
  std::string_view v = Trim(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

std::string Quote(std::string_view value) {
  const bool framed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || framed)) {
    std::string quoted(1, '"');
    quoted.append(value);
    quoted += '"';
    return quoted;
  }
  return std::string(value);
}

// Reads the whole file; ENOENT gives an empty, non-existing profile.
Profile Load(const std::string& path) {
  Profile profile;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) {
    if (errno == ENOENT) return profile;
    throw SettingsError(path, "open", ErrnoText(errno));
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) throw SettingsError(path, "read", ErrnoText(errno));
  if (S_ISDIR(st.st_mode)) throw SettingsError(path, "open", ErrnoText(EISDIR));
  ErasedString buffered;
  std::string& data = buffered.s;
  // Read in one buffer of the file's size (plus room to see its end), so that growing it leaves
  // no stray copies of the passphrase.
  data.resize(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)) + 1);
  std::size_t filled = 0;
  for (;;) {
    if (filled == data.size()) {
      // The file grew while read: move to a larger buffer, erasing the old one.
      std::string larger(data.size() * 2, '\0');
      std::copy(data.begin(), data.end(), larger.begin());
      EraseString(data);
      data.swap(larger);
    }
    const ssize_t got = ::read(fd.Get(), data.data() + filled, data.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw SettingsError(path, "read", ErrnoText(errno));
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  data.resize(filled);
  profile.exists = true;
  if (data.starts_with(kBom)) {
    profile.bom = true;
    data.erase(0, kBom.size());
  }
  // Files written on Windows are in its code page; they become UTF-8 here and when written back.
  if (!IsValidUtf8(data)) {
    std::string converted = Cp1252ToUtf8(data);
    EraseString(data);
    data.swap(converted);
  }
  profile.lines.reserve(static_cast<std::size_t>(std::count(data.begin(), data.end(), '\n')) + 8);

  const auto firstEnd = data.find('\n');
  if (firstEnd != std::string::npos) {
    profile.lineEnd = firstEnd > 0 && data[firstEnd - 1] == '\r' ? "\r\n" : "\n";
  }
  std::size_t pos = 0;
  while (pos < data.size()) {
    const auto nl = data.find('\n', pos);
    // Filled where it stays, so that no temporary copy of the text is left behind.
    Line& line = profile.lines.emplace_back();
    if (nl == std::string::npos) {
      line.text.assign(data, pos);
      pos = data.size();
    } else {
      std::size_t textEnd = nl;
      if (textEnd > pos && data[textEnd - 1] == '\r') --textEnd;
      line.text.assign(data, pos, textEnd - pos);
      line.end = data.substr(textEnd, nl + 1 - textEnd);
      pos = nl + 1;
    }
  }
  return profile;
}

// [first, last) line indices of the first section named name, first being the header.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const Profile& profile,
                                                               std::string_view name) {
  const auto& lines = profile.lines;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto header = SectionName(lines[i].text);
    if (!header || !EqualsIgnoreCase(*header, name)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text)) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

void InsertLine(Profile& profile, std::size_t at, std::string_view text) {
  if (at > 0 && profile.lines[at - 1].end.empty()) profile.lines[at - 1].end = profile.lineEnd;
  const auto it =
      profile.lines.insert(profile.lines.begin() + static_cast<std::ptrdiff_t>(at), Line{});
  it->text.assign(text);
  it->end = profile.lineEnd;
}

void Set(Profile& profile, std::string_view section, std::string_view key, std::string_view value) {
  auto range = FindSection(profile, section);
  if (!range) {
    const bool separate = !profile.lines.empty() && !Trim(profile.lines.back().text).empty();
    if (separate) InsertLine(profile, profile.lines.size(), "");
    std::string header(1, '[');
    header.append(section);
    header += ']';
    InsertLine(profile, profile.lines.size(), header);
    range = std::make_pair(profile.lines.size() - 1, profile.lines.size());
  }
  ErasedString line;
  line.s.reserve(key.size() + value.size() + 3);
  line.s.append(key);
  line.s += '=';
  {
    ErasedString quoted;
    quoted.s = Quote(value);
    line.s += quoted.s;
  }
  std::size_t insertAt = range->first + 1;
  for (std::size_t i = range->first + 1; i < range->second; ++i) {
    const auto entry = Entry(profile.lines[i].text);
    if (entry && EqualsIgnoreCase(entry->first, key)) {
      EraseString(profile.lines[i].text);
      profile.lines[i].text = line.s;
      return;
    }
    if (!Trim(profile.lines[i].text).empty()) insertAt = i + 1;
  }
  InsertLine(profile, insertAt, line.s);
}

void Store(const std::string& path, const Profile& profile) {
  ErasedString buffered;
  std::string& data = buffered.s;
  std::size_t size = kBom.size();
  for (const Line& line : profile.lines) size += line.text.size() + line.end.size();
  data.reserve(size);
  if (profile.bom) data += kBom;
  for (const Line& line : profile.lines) {
    data += line.text;
    data += line.end;
  }

  struct stat st;
  const bool replacing = ::stat(path.c_str(), &st) == 0;
  // The rename below would ignore the file's own permissions: a file its owner made read-only is
  // refused, as writing to it would be.
  if (replacing && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    throw SettingsError(path, "open", ErrnoText(errno));
  }
  std::string tempPath;
  UniqueFd fd(CreateTempBeside(path, S_IRUSR | S_IWUSR, &tempPath));
  if (!fd) throw SettingsError(path, "create", ErrnoText(errno));
  auto fail = [&](const char* operation, int err) {
    fd.Close();
    ::unlink(tempPath.c_str());
    throw SettingsError(path, operation, ErrnoText(err));
  };
  if (replacing) {
    // Keep the existing file's owner (when we may) and permissions.
    if (::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) {
      // Not permitted for another owner; the file then becomes ours, which is what writing it
      // means.
    }
    if (::fchmod(fd.Get(), st.st_mode & 07777) != 0) fail("write", errno);
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t put = ::write(fd.Get(), data.data() + done, data.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      fail("write", errno);
    }
    done += static_cast<std::size_t>(put);
  }
  if (::fsync(fd.Get()) != 0) fail("write", errno);
  if (const int err = fd.Close(); err != 0) fail("write", err);
  if (::rename(tempPath.c_str(), path.c_str()) != 0) {
    const int err = errno;
    ::unlink(tempPath.c_str());
    throw SettingsError(path, "replace", ErrnoText(err));
  }
  if (const int err = SyncParentFolder(path); err != 0)
    throw SettingsError(path, "write", ErrnoText(err));
}

}  // namespace

SettingsError::SettingsError(std::string file, std::string operation, std::string cause)
    : std::runtime_error(file + ": " + operation + ": " + cause),
      file_(std::move(file)),
      operation_(std::move(operation)),
      cause_(std::move(cause)) {}

bool IsStorableProfileValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void WriteProfileStrings(const std::string& path, std::string_view section,
                         const ProfileEntries& entries) {
  for (const auto& [key, value] : entries) {
    if (!IsStorableProfileValue(value)) {
      throw SettingsError(path, "write", "the value of " + key + " holds a line break");
    }
  }
  const std::string target = ResolveLinks(path);
  Profile profile = Load(target);
  // Room for the new lines, so that inserting them moves no line to a new buffer.
  profile.lines.reserve(profile.lines.size() + entries.size() + 3);
  for (const auto& [key, value] : entries) {
    // The file is UTF-8; a value that is not (a passphrase taken as raw bytes) is Windows-1252.
    if (IsValidUtf8(value)) {
      Set(profile, section, key, value);
    } else {
      ErasedString converted;
      converted.s = Cp1252ToUtf8(value);
      Set(profile, section, key, converted.s);
    }
  }
  Store(target, profile);
}

void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  WriteProfileStrings(path, section, {{std::string(key), std::string(value)}});
}

std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key) {
  const Profile profile = Load(path);
  if (!profile.exists) throw SettingsError(path, "open", ErrnoText(ENOENT));
  const auto range = FindSection(profile, section);
  if (!range) return std::nullopt;
  for (std::size_t i = range->first + 1; i < range->second; ++i) {
    const auto entry = Entry(profile.lines[i].text);
    if (entry && EqualsIgnoreCase(entry->first, key)) {
      return std::optional<std::string>(std::in_place, Unquote(entry->second));
    }
  }
  return std::nullopt;
}

}  // namespace kryvane
