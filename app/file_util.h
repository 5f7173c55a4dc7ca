// Small path helpers shared by the file job and its outputs.
#pragma once

#include <string>

#include "app/io.h"

namespace kryvane {

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

}  // namespace kryvane
