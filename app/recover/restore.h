// Where a long passphrase search stopped, so that it can go on after Ctrl-C, a logout or a
// reboot. A restore point holds the position in the candidate space and a fingerprint of the
// facts that define the space, never a candidate or anything derived from one (the words a user
// remembers are close to the passphrase itself).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kryvane {

struct RestorePoint {
  // Every candidate before this one was tried.
  uint64_t position = 0;
  // Hex SHA-256 of the space's facts (see SpaceFingerprint): a restore point applies only to
  // the search it was written for.
  std::string fingerprint;
  // For the user who opens the file: the source as named and what was searched.
  std::string source;
  std::string description;
};

// The fingerprint of a search from facts that describe it without candidate text: the kind of
// generator, the size of its space, the pairs, the encoding, the identity of a word list or rule
// file, the share of a split.
std::string SpaceFingerprint(const std::vector<std::string>& facts);

// The folder restore points live in: $XDG_STATE_HOME/kryvane/recover, or
// ~/.local/state/kryvane/recover; made (mode 0700) when create is set. Throws IoError.
std::string RestoreFolder(bool create);

// The restore point's file name for a source: from the source's size and first bytes, so that a
// copy or a renamed file finds its restore point and another file never does.
std::string RestoreFileName(std::span<const uint8_t> head, uint64_t size);

// Writes point as folder/name, replacing an older one only once complete, mode 0600. Throws
// IoError naming the file.
void SaveRestorePoint(const std::string& folder, const std::string& name,
                      const RestorePoint& point);
// Reads it; nothing when there is none. A file that is not a restore point, a link or anything
// but a regular file is refused (IoError naming it).
std::optional<RestorePoint> LoadRestorePoint(const std::string& folder, const std::string& name);
// Removes it, when a search found the passphrase or went through its space. A missing file is
// no failure.
void RemoveRestorePoint(const std::string& folder, const std::string& name);

}  // namespace kryvane
