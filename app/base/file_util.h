// Small path helpers shared by the file job and its outputs, and the one way files are reached
// below a folder descriptor.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <string>
#include <string_view>

#include "app/base/io.h"

namespace kryvane {

// The last step of path ("" for a path ending in "/").
std::string BaseName(const std::string& path);

// The folder that holds path ("." for a bare name).
std::string ParentFolder(const std::string& path);

// The path itself, or where it finally points when it is a symbolic link to an existing file, so
// that replacing the file keeps the link.
std::string ResolveLinks(const std::string& path);

// Whether a and b name the same file: the same device and inode when both exist, otherwise the
// same folder (symbolic links resolved) and the same name.
bool SamePlace(const std::string& a, const std::string& b);

// Makes the entries of a folder (new files, renames) durable; 0 or the errno of the failure. A
// folder that cannot be flushed (one we may not list, a file system without the call) is no
// failure.
int FlushFolder(const std::string& path);

// Makes the entries of an open folder durable; 0 or the errno, as FlushFolder.
int FlushFolderFd(int folder);

// Opens the folder rel below root ("" is root itself; steps separated by "/") without following a
// symbolic link at any step, so that a folder swapped for a link, at any time, is refused and never
// followed. With create, missing folders are made and each new one is flushed into its parent.
// display names root in errors; throws IoError naming the step that failed.
UniqueFd OpenFolderBeneath(int root, std::string_view rel, const std::string& display,
                           bool create = false);

// The folder that holds path, opened once (following the links the caller wrote into path), so
// that everything done there after refers to this one folder. Throws IoError naming path.
UniqueFd OpenParentFolder(const std::string& path);

// How a source is opened: without blocking (a FIFO's open does not wait for its writer), a
// folder refused, a symbolic link at the last step refused unless followLink. The descriptor is
// still non-blocking: AwaitReadable makes it ready to read. Throws IoError.
struct OpenedSource {
  UniqueFd fd;
  struct stat status {};
};
OpenedSource OpenSource(int folder, const std::string& name, const std::string& display,
                        bool followLink);
// Waits, cancellably, until a FIFO or socket has something to read (its writer came), then makes
// the descriptor blocking. Returns false when cancel was set first.
bool AwaitReadable(int fd, const struct stat& status, const std::string& display,
                   const std::atomic<bool>* cancel);
// A descriptor opened without blocking (so that waiting for a FIFO's other end stays
// cancellable) reads and writes as usual from now on. Throws IoError naming name.
void ClearNonBlocking(int fd, const std::string& name);
// Whether an IoError from OpenSource or OpenFolderBeneath is the refusal of a symbolic link.
bool IsLinkRefusal(const IoError& e);

// A small file that must be a regular file (a settings file, say): opened without blocking and
// without following a link at the last step; anything else is refused. Throws IoError.
UniqueFd OpenRegularFile(int folder, const std::string& name, const std::string& display);

// Whether two states of one file show the same content: the same file, size, modification and
// change time.
bool SameContentState(const struct stat& a, const struct stat& b);

}  // namespace kryvane
