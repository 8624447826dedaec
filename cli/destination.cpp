#include "cli/destination.h"

namespace sfx::cli {

namespace {

constexpr char OwnExtension[] = ".out";

// Length of the folder part, its last separator included.
std::size_t FolderLength(const std::string& path) {
    std::size_t folder = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
#ifdef _WIN32
        const bool separator = path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':');
#else
        const bool separator = path[i] == '/';
#endif
        if (separator)
            folder = i + 1;
    }
    return folder;
}

}  // namespace

std::string DefaultDestination(const std::string& file) {
    const std::size_t folder = FolderLength(file);
    const std::size_t dot = file.rfind('.');
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
