#include "ui/startup.h"

#include <cstring>

#include "platform/lookup.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace sfx::ui {

char DestinationFolder[TextSize];
char DestinationFileName[TextSize];

namespace {

char ownPath[OwnPathSize];

using platform::CopyWhole;
using platform::IsPathSeparator;

// Length of the part of a path that is never looked up: "X:" of a drive path, the server
// and share of a network path, nothing for a relative path.
std::size_t RootLength(const char* path) {
    if (path[0] != '\0' && path[1] == ':')
        return 2;
    if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        std::size_t i = 2;
        int separators = 0;
        for (; path[i] != '\0'; i = platform::NextCharacter(path, i)) {
            if (IsPathSeparator(path[i]) && ++separators == 2)
                break;
        }
        return i;
    }
    return 0;
}

}  // namespace

const char* OwnPath() {
    return ownPath;
}

void SelectOwnPath(const char* argument0, const char* moduleFile) {
    ownPath[0] = '\0';
    if (moduleFile != nullptr && moduleFile[0] != '\0' &&
        CopyWhole(ownPath, moduleFile, sizeof ownPath))
        return;
    if (argument0 == nullptr || !CopyWhole(ownPath, argument0, sizeof ownPath))
        ownPath[0] = '\0';
}

bool IsAbsolutePath(const char* path) {
    const bool drive = path[0] != '\0' && path[1] == ':' && IsPathSeparator(path[2]);
    return drive || (IsPathSeparator(path[0]) && IsPathSeparator(path[1]));
}

namespace {

// The name the file system stores for the last component of `path`, which starts at
// path + cut; the component as written when the lookup fails.
const char* StoredName(const char* path, std::size_t cut, platform::FindData& entry) {
    const std::intptr_t handle = platform::_findfirst(path, &entry);
    if (handle == -1)
        return path + cut;
    platform::_findclose(handle);
    entry.name[sizeof entry.name - 1] = '\0';
    return entry.name;
}

// Puts `name` and a separator in front of the resultLength bytes of `result`; false, with
// `result` unchanged, when that would not fit.
bool PrependComponent(char* result, std::size_t& resultLength, const char* name,
                      std::size_t nameLength) {
    if (nameLength + 1 + resultLength >= TextSize)
        return false;
    std::memmove(result + nameLength + 1, result, resultLength + 1);
    std::memcpy(result, name, nameLength);
    result[nameLength] = '\\';
    resultLength += nameLength + 1;
    return true;
}

// Writes head, a separator (when there is a head) and tail into `out` when the whole fits
// the text and its character limit.
bool JoinWhenFits(const char* head, std::size_t headLength, const char* tail,
                  std::size_t tailLength, char* out) {
    // A relative path keeps no leading separator.
    const std::size_t joint = headLength > 0 ? 1 : 0;
    if (headLength + joint + tailLength >= TextSize)
        return false;
    char joined[TextSize];
    std::memcpy(joined, head, headLength);
    if (joint != 0)
        joined[headLength] = '\\';
    std::memcpy(joined + headLength + joint, tail, tailLength + 1);
    if (platform::PathLength(joined, TextCharacters) > TextCharacters)
        return false;
    std::memcpy(out, joined, headLength + joint + tailLength + 1);
    return true;
}

}  // namespace

void ExpandLongPath(char* path, char* out) {
    std::size_t length = strnlen(path, TextSize - 1);
    path[length] = '\0';
    if (platform::EndsWithSeparator(path) && path[length - 1] == '\\')
        path[--length] = '\0';

    // The components are looked up from the last one back: `remaining` is what is still to
    // look up, `result` the stored names found so far, each followed by a separator.
    char remaining[TextSize] = {};
    char result[TextSize];
    std::memcpy(remaining, path, length + 1);
    result[0] = '\0';
    std::size_t resultLength = 0;
    const std::size_t root = RootLength(remaining);
    bool fits = true;

    std::size_t remainingLength = length;
    while (remainingLength > root) {
        const std::size_t folder = platform::FolderLength(remaining);
        const std::size_t cut = folder > root ? folder : root;
        platform::FindData entry;
        const char* stored = StoredName(remaining, cut, entry);
        fits = PrependComponent(result, resultLength, stored, strnlen(stored, sizeof entry.name));
        if (!fits)
            break;

        // Cut the component and its separator off.
        remainingLength = cut > root ? cut - 1 : root;
        remaining[remainingLength] = '\0';
        if (remainingLength > 0 && remaining[remainingLength - 1] == ':')
            break;
    }

    if (fits && JoinWhenFits(remaining, remainingLength, result, resultLength, out))
        return;
    // The long form does not fit: the path as given.
    std::memmove(out, path, length + 1);
    if (length + 1 < TextSize) {
        out[length] = '\\';
        out[length + 1] = '\0';
    }
}

void InitDefaultDestination() {
    const char* source = ownPath;
    DestinationFolder[0] = '\0';
    DestinationFileName[0] = '\0';
    // Unknown or too long to be taken apart here: the user types a destination.
    if (source[0] == '\0' || platform::PathLength(source, TextCharacters) > TextCharacters ||
        !CopyWhole(DestinationFolder, source, sizeof DestinationFolder))
        return;

    ExpandLongPath(DestinationFolder, DestinationFolder);
    std::size_t length = std::strlen(DestinationFolder);
    if (platform::EndsWithSeparator(DestinationFolder) && DestinationFolder[length - 1] == '\\')
        DestinationFolder[length - 1] = '\0';

    char drive[TextSize];
    char directory[TextSize];
    char fileName[TextSize];
    char extension[TextSize];
    platform::_splitpath(DestinationFolder, drive, directory, fileName, extension);

    const std::size_t driveLength = strnlen(drive, TextSize - 1);
    const std::size_t directoryLength = strnlen(directory, TextSize - 1);
    if (driveLength + directoryLength == 0) {
        // A bare name: the current folder is the program's.
        std::memcpy(DestinationFolder, ".\\", 3);
    } else if (driveLength + directoryLength < TextSize) {
        std::memcpy(DestinationFolder, drive, driveLength);
        std::memcpy(DestinationFolder + driveLength, directory, directoryLength);
        DestinationFolder[driveLength + directoryLength] = '\0';
    }
    CopyWhole(DestinationFileName, fileName, sizeof DestinationFileName);
}

}  // namespace sfx::ui
