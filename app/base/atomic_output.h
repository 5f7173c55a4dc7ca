// A file that replaces its destination only once it is complete: a new file is opened beside the
// destination (unnamed where the file system allows, so even a kill leaves nothing), written
// through Fd(), flushed, and renamed over the destination by Commit. Destroyed without a commit,
// it is discarded and the destination stays as it was.
#pragma once

#include <sys/types.h>

#include <string>

#include "app/base/io.h"

namespace kryvane {

class AtomicOutput {
 public:
  // Prepares the new file. destination is taken as it is: a symbolic link there is refused, never
  // followed (a caller that means to replace what a link points at resolves it first), and so is
  // anything else that is not a regular file, or a file the user may not write. An existing file
  // of the user's own keeps its permissions and group; a file of another user's is not refilled
  // for them: the new file is the user's, with newMode less the umask, as a new file gets.
  // Everything is relative to the destination's folder, opened once. Errors name displayName
  // (the destination when empty). With readable, Fd() may also be read, until the commit (to
  // check what was written). Throws IoError.
  AtomicOutput(std::string destination, mode_t newMode, std::string displayName = {},
               bool readable = false);
  // The same for the entry name of an open folder (not owned; it is duplicated).
  AtomicOutput(int folder, std::string name, mode_t newMode, std::string displayName,
               bool readable = false);
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();

  int Fd() const { return fd_.Get(); }
  const std::string& Name() const { return name_; }
  // Whether a file was there to replace.
  bool Replaces() const { return replaces_; }
  // Takes away every permission bit that mask lacks (a plaintext is no more open than the file
  // it came from). Throws IoError.
  void LimitMode(mode_t mask);

  // Makes the written data durable and gives the new file a (hidden) name, so that only the
  // rename is left; every failure that a full disk or a quota can cause shows up here. With
  // dropCache, a later read of a readable file comes from the disk, not from memory.
  void Flush(bool dropCache = false);
  // Flushes if not done yet, renames the new file over the destination and makes the rename
  // durable. Once the rename is done, Committed() is true even when the final folder flush fails.
  // Without durable, nothing is flushed: for a new file whose loss in a crash costs nothing.
  // Without flushFolder, the file is durable but the rename waits for the caller's flush of the
  // folder (one for many files).
  void Commit(bool durable = true, bool flushFolder = true);
  bool Committed() const { return committed_; }
  // Removes the new file now; the destination stays as it was.
  void Discard();

 private:
  std::string destination_;
  std::string base_;  // the destination's name within its folder
  std::string name_;
  UniqueFd folder_;
  bool folderSyncable_ = true;
  bool readable_ = false;
  UniqueFd fd_;
  std::string tempName_;  // within the folder; empty while the file has no name
  bool replaces_ = false;
  bool synced_ = false;
  bool committed_ = false;

  void Open(mode_t newMode);
  void GiveName();
};

}  // namespace kryvane
