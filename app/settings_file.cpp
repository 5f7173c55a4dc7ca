#include "app/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/base/atomic_output.h"
#include "app/base/io.h"
#include "app/base/text_util.h"
#include "app/passphrase.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The file holds the passphrase, so every line is a Secret.
struct Line {
  Secret text;
  std::string end;  // "\r\n", "\n" or empty for a last line without one
};

struct Profile {
  bool exists = false;
  bool bom = false;
  bool fromCp1252 = false;  // the file was not valid UTF-8
  std::string lineEnd = "\r\n";
  std::vector<Line> lines;
};

// The section name of a "[Name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  const auto close = line.find(']');
  return TrimBlanks(close == std::string_view::npos ? line : line.substr(0, close));
}

// The key and raw value of a "Key=Value" line; comments and other lines give nothing.
std::optional<std::pair<std::string_view, std::string_view>> Entry(std::string_view line) {
  const std::string_view trimmed = TrimBlanks(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return std::nullopt;
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return std::make_pair(TrimBlanks(line.substr(0, eq)), line.substr(eq + 1));
}

std::string_view Unquote(std::string_view raw) {
  std::string_view v = TrimBlanks(raw);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

Secret Quote(std::string_view value) {
  const bool framed = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                      value.back() == value.front();
  if (TrimBlanks(value).size() != value.size() || framed) {
    Secret quoted;
    quoted.Reserve(value.size() + 2);
    quoted.Append('"');
    quoted.Append(value);
    quoted.Append('"');
    return quoted;
  }
  return Secret(value);
}

enum class LoadFor { kReading, kUpdating };

// Reads the whole file; ENOENT gives an empty, non-existing profile. The file must be a regular
// file, opened without blocking (a FIFO must not stall the job); for an update, or when followLink
// is false, a symbolic link there is refused.
Profile Load(int folder, const std::string& name, const std::string& path, LoadFor purpose,
             bool followLink = true) {
  Profile profile;
  const bool updating = purpose == LoadFor::kUpdating;
  const bool noFollow = updating || !followLink;
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0);
  UniqueFd fd(::openat(folder, name.c_str(), flags));
  if (!fd) {
    if (errno == ENOENT) return profile;
    if (errno == ELOOP && noFollow) {
      throw SettingsError(path, "open",
                          updating ? "it is a symbolic link, which is never written through"
                                   : "it is a symbolic link, which is not followed");
    }
    throw SettingsError(path, "open", errno);
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) throw SettingsError(path, "read", errno);
  if (S_ISDIR(st.st_mode)) throw SettingsError(path, "open", EISDIR);
  if (!S_ISREG(st.st_mode)) throw SettingsError(path, "open", "it is not a regular file");
  Secret data = ReadAllSecret(fd.Get(), path);
  profile.exists = true;
  std::string_view text = data.View();
  if (text.starts_with(kBom)) {
    profile.bom = true;
    text.remove_prefix(kBom.size());
  }
  // Files written on Windows are in its code page; they become UTF-8 here and when written back.
  Secret converted;
  if (!IsValidUtf8(text)) {
    profile.fromCp1252 = true;
    converted = Cp1252ToUtf8(text);
    text = converted.View();
  }
  profile.lines.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 8);

  const auto firstEnd = text.find('\n');
  if (firstEnd != std::string_view::npos) {
    profile.lineEnd = firstEnd > 0 && text[firstEnd - 1] == '\r' ? "\r\n" : "\n";
  }
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto nl = text.find('\n', pos);
    // Filled where it stays, so that no temporary copy of the text is left behind.
    Line& line = profile.lines.emplace_back();
    if (nl == std::string_view::npos) {
      line.text.Append(text.substr(pos));
      pos = text.size();
    } else {
      std::size_t textEnd = nl;
      if (textEnd > pos && text[textEnd - 1] == '\r') --textEnd;
      line.text.Append(text.substr(pos, textEnd - pos));
      line.end = textEnd < nl ? "\r\n" : "\n";
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
    const auto header = SectionName(lines[i].text.View());
    if (!header || !EqualsIgnoreCase(*header, name)) continue;
    std::size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end].text.View())) ++end;
    return std::make_pair(i, end);
  }
  return std::nullopt;
}

void InsertLine(Profile& profile, std::size_t at, std::string_view text) {
  if (at > 0 && profile.lines[at - 1].end.empty()) profile.lines[at - 1].end = profile.lineEnd;
  const auto it =
      profile.lines.insert(profile.lines.begin() + static_cast<std::ptrdiff_t>(at), Line{});
  it->text = Secret(text);
  it->end = profile.lineEnd;
}

void Set(Profile& profile, std::string_view section, std::string_view key, std::string_view value) {
  auto range = FindSection(profile, section);
  if (!range) {
    const bool separate =
        !profile.lines.empty() && !TrimBlanks(profile.lines.back().text.View()).empty();
    if (separate) InsertLine(profile, profile.lines.size(), "");
    std::string header(1, '[');
    header.append(section);
    header += ']';
    InsertLine(profile, profile.lines.size(), header);
    range = std::make_pair(profile.lines.size() - 1, profile.lines.size());
  }
  const Secret quoted = Quote(value);
  Secret line;
  line.Reserve(key.size() + 1 + quoted.size());
  line.Append(key);
  line.Append('=');
  line.Append(quoted.View());
  std::size_t insertAt = range->first + 1;
  for (std::size_t i = range->first + 1; i < range->second; ++i) {
    const auto entry = Entry(profile.lines[i].text.View());
    if (entry && EqualsIgnoreCase(entry->first, key)) {
      profile.lines[i].text = std::move(line);
      return;
    }
    if (!TrimBlanks(profile.lines[i].text.View()).empty()) insertAt = i + 1;
  }
  InsertLine(profile, insertAt, line.View());
}

void Store(AtomicOutput& output, const Profile& profile) {
  Secret data;
  std::size_t size = kBom.size();
  for (const Line& line : profile.lines) size += line.text.size() + line.end.size();
  data.Reserve(size);
  if (profile.bom) data.Append(kBom);
  for (const Line& line : profile.lines) {
    data.Append(line.text.View());
    data.Append(line.end);
  }
  FdWriter(output.Fd(), output.Name()).Write(data.data(), data.size());
  output.Flush();
}

}  // namespace

bool IsStorableProfileValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

ProfileUpdate::ProfileUpdate(const std::string& path, std::string_view section,
                             const ProfileEntries& entries)
    : ProfileUpdate(-1, {}, path, section, entries) {}

ProfileUpdate::ProfileUpdate(int folder, const std::string& name, const std::string& path,
                             std::string_view section, const ProfileEntries& entries) {
  for (const auto& [key, value] : entries) {
    if (value.find('\0') != std::string_view::npos) {
      throw SettingsError(path, "write",
                          "the value of " + std::string(key) + " holds a NUL character");
    }
    if (!IsStorableProfileValue(value)) {
      throw SettingsError(path, "write",
                          "the value of " + std::string(key) + " holds a line break");
    }
  }
  // The checks of the destination (no link, a regular file we may write, a folder that exists)
  // come first, before anything is read.
  output_ = folder < 0 ? std::make_unique<AtomicOutput>(path, S_IRUSR | S_IWUSR)
                       : std::make_unique<AtomicOutput>(folder, name, S_IRUSR | S_IWUSR, path);
  Profile profile = folder < 0 ? Load(AT_FDCWD, path, path, LoadFor::kUpdating)
                               : Load(folder, name, path, LoadFor::kUpdating);
  // Room for the new lines, so that inserting them moves no line to a new buffer.
  profile.lines.reserve(profile.lines.size() + entries.size() + 3);
  for (const auto& [key, value] : entries) {
    // The file is UTF-8; a value that is not (a passphrase taken as raw bytes) is Windows-1252.
    if (IsValidUtf8(value)) {
      Set(profile, section, key, value);
    } else {
      const Secret converted = Cp1252ToUtf8(value);
      Set(profile, section, key, converted.View());
    }
  }
  Store(*output_, profile);
}

ProfileUpdate::~ProfileUpdate() = default;

void ProfileUpdate::Commit() {
  output_->Commit();
}

void WriteProfileStrings(const std::string& path, std::string_view section,
                         const ProfileEntries& entries) {
  ProfileUpdate(path, section, entries).Commit();
}

void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  WriteProfileStrings(path, section, {{key, value}});
}

std::optional<Secret> ReadProfileString(const std::string& path, std::string_view section,
                                        std::string_view key, ProfileText* read) {
  const std::string_view keys[] = {key};
  return std::move(ReadProfileStrings(AT_FDCWD, path, path, true, section, keys, read).front());
}

std::vector<std::optional<Secret>> ReadProfileStrings(int folder, const std::string& name,
                                                      const std::string& path, bool followLink,
                                                      std::string_view section,
                                                      std::span<const std::string_view> keys,
                                                      ProfileText* read) {
  const Profile profile = Load(folder, name, path, LoadFor::kReading, followLink);
  if (!profile.exists) throw SettingsError(path, "open", ErrnoText(ENOENT));
  if (read != nullptr) {
    *read = profile.fromCp1252 ? ProfileText::kCp1252
            : profile.bom      ? ProfileText::kUtf8WithBom
                               : ProfileText::kUtf8;
  }
  std::vector<std::optional<Secret>> values(keys.size());
  const auto range = FindSection(profile, section);
  if (!range) return values;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    for (std::size_t i = range->first + 1; i < range->second; ++i) {
      const auto entry = Entry(profile.lines[i].text.View());
      if (entry && EqualsIgnoreCase(entry->first, keys[k])) {
        values[k].emplace(Unquote(entry->second));
        break;
      }
    }
  }
  return values;
}

}  // namespace kryvane
