// Where a file is extracted to when no destination, or only a folder, is given.
#pragma once

#include <string>

namespace sfx::cli {

// The folder of `file` and its name without the last extension ("dir/report.final.exe" gives
// "dir/report.final"). When that leaves no name or the name unchanged (no extension, or a
// name that is only an extension such as ".hidden"), `file` followed by ".out".
std::string DefaultDestination(const std::string& file);

// The folder part of `path`, its last separator included ("" for a bare name).
std::string FolderOf(const std::string& path);

// True when `path` ends with a separator: it names a folder, made when missing.
bool NamesFolder(const std::string& path);

// The default name of `file` inside `folder`.
std::string DestinationInFolder(const std::string& folder, const std::string& file);

}  // namespace sfx::cli
