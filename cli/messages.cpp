#include "cli/messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/destination.h"
#include "cli/text.h"
#include "platform/file_checks.h"

namespace sfx::cli {

namespace {

std::string Reason(int error) {
    return std::strerror(error);
}

// Files a write needs open at once: the source and the file written.
constexpr int FilesAWriteNeeds = 2;

}  // namespace

void Tell(const std::string& message) {
    std::fprintf(stderr, "unsfx: %s\n", message.c_str());
}

std::string Quoted(const std::string& name) {
    // Built by appending: g++ 12 at -O3 sees a false overlap in "'" + text.
    std::string quoted(1, '\'');
    quoted += Printable(name);
    quoted += '\'';
    return quoted;
}

std::string SourceProblem(const std::string& file) {
    if (file == "-")
        return "'-' can't be read from the end: give a file";
    int error = 0;
    switch (platform::TargetOf(file.c_str(), error)) {
        case platform::Target::RegularFile:
            return "";
        case platform::Target::Folder:
            return Quoted(file) + " is a folder";
        case platform::Target::Other:
            return Quoted(file) + " is not a regular file";
        case platform::Target::Missing:
            break;
    }
    return "cannot open " + Quoted(file) + ": " + Reason(error);
}

std::string ReadProblem(const std::string& file, int error) {
    const std::string kind = SourceProblem(file);
    if (!kind.empty())
        return kind;  // it changed since it was looked at
    int access = 0;
    if (!platform::CanRead(file.c_str(), access))
        return "cannot open " + Quoted(file) + ": " + Reason(access);
    if (error != 0 && error != ENOENT)
        return "cannot read " + Quoted(file) + ": " + Reason(error);
    return "cannot read " + Quoted(file);
}

std::string WriteProblem(const std::string& destination, int error, long long needed) {
    int lookup = 0;
    switch (platform::TargetOf(destination.c_str(), lookup)) {
        case platform::Target::Folder:
            return Quoted(destination) + " is a folder";
        case platform::Target::Other:
            return Quoted(destination) + " is not a regular file";
        case platform::Target::Missing:
            if (lookup != ENOENT)
                return "cannot create " + Quoted(destination) + ": " + Reason(lookup);
            break;
        case platform::Target::RegularFile:
            break;
    }
    const std::string folder = FolderOf(destination);
    int refused = 0;
    if (!platform::CanCreateIn(folder.c_str(), refused) &&
        (error == 0 || lookup == ENOENT || error == refused))
        return "cannot create " + Quoted(destination) + ": " + Reason(refused);
    if (error != 0)
        return "cannot write " + Quoted(destination) + ": " + Reason(error);
    int files = 0;
    if (!platform::CanOpenFiles(FilesAWriteNeeds, files))
        return "cannot write " + Quoted(destination) + ": " + Reason(files);
    const long long free = platform::FreeBytes(folder.c_str());
    if (free >= 0 && free < needed)
        return "cannot write " + Quoted(destination) + ": " + Reason(ENOSPC);
    return "cannot write " + Quoted(destination);
}

std::string ScratchProblem(bool toOutput, int error) {
    std::string message =
        toOutput ? "cannot write to standard output" : "cannot write to the null device";
    int files = 0;
    if (error != 0)
        message += ": " + Reason(error);
    else if (!platform::CanOpenFiles(FilesAWriteNeeds, files))
        message += ": " + Reason(files);
    return message;
}

}  // namespace sfx::cli
