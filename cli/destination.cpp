#include "cli/destination.h"

#include "platform/path_text.h"

namespace sfx::cli {

namespace {

constexpr char OwnExtension[] = ".out";

// Length of the folder part, its last separator included. On Windows "\" and a drive's
// colon count too, and the trail byte of a double-byte character never does.
std::size_t FolderLength(const std::string& path) {
    return platform::NativeFolderLength(path.c_str());
}

// Where the name's last "." stands, or npos.
std::size_t LastDot(const std::string& path) {
#ifdef _WIN32
    const std::size_t dot = platform::ExtensionStart(path.c_str());
    return dot < path.size() ? dot : std::string::npos;
#else
    return path.rfind('.');
#endif
}

}  // namespace

std::string DefaultDestination(const std::string& file) {
    const std::size_t folder = FolderLength(file);
    const std::size_t dot = LastDot(file);
    if (dot == std::string::npos || dot <= folder)
        return file + OwnExtension;
    return file.substr(0, dot);
}

std::string FolderOf(const std::string& path) {
    return path.substr(0, FolderLength(path));
}

bool NamesFolder(const std::string& path) {
    return !path.empty() && FolderLength(path) == path.size();
}

std::string DestinationInFolder(const std::string& folder, const std::string& file) {
    const std::string name = DefaultDestination(file);
    std::string path = folder;
    if (!path.empty() && FolderLength(path) != path.size())
        path += '/';
    return path + name.substr(FolderLength(name));
}

}  // namespace sfx::cli
