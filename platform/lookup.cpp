#include "platform/lookup.h"

#include <cstring>

#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <strings.h>
#endif

namespace sfx::platform {

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    constexpr std::size_t capacity = 255 * BytesPerPathCharacter + 1;
    // A drive's "X:" is two single-byte characters, never a lead and a trail byte.
    std::size_t start = 0;
    if (path[0] != '\0' && !IsLeadByte(static_cast<unsigned char>(path[0])) && path[1] == ':')
        start = 2;
    CopyCut(drive, path, start, capacity);

    const std::size_t nameStart = FolderLength(path);  // the drive's colon included
    CopyCut(dir, path + start, nameStart - start, capacity);

    const std::size_t end = nameStart + std::strlen(path + nameStart);
    const std::size_t dot = ExtensionStart(path);
    CopyCut(fname, path + nameStart, dot - nameStart, capacity);
    CopyCut(ext, path + dot, end - dot, capacity);
}

#ifdef _WIN32

std::intptr_t _findfirst(const char* path, FindData* entry) {
    const WidePath wide(path);
    if (!wide.ok)
        return -1;
    WIN32_FIND_DATAW found;
    HANDLE handle = FindFirstFileW(wide.text, &found);
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    if (!NarrowPath(found.cFileName, entry->name, sizeof entry->name)) {
        FindClose(handle);
        return -1;
    }
    entry->attrib = found.dwFileAttributes;
    return reinterpret_cast<std::intptr_t>(handle);
}

int _findclose(std::intptr_t handle) {
    if (handle == -1)
        return -1;
    return FindClose(reinterpret_cast<HANDLE>(handle)) ? 0 : -1;
}

#else

namespace {

const StoredName* storedNames = nullptr;
std::size_t storedNameCount = 0;

}  // namespace

void SetStoredNames(const StoredName* table, std::size_t count) {
    storedNames = table;
    storedNameCount = table != nullptr ? count : 0;
}

std::intptr_t _findfirst(const char* path, FindData* entry) {
    const char* found = nullptr;
    if (storedNames == nullptr) {
        found = path + FolderLength(path);
        if (*found == '\0')
            return -1;
    } else {
        for (std::size_t i = 0; i < storedNameCount && found == nullptr; ++i) {
            if (strcasecmp(storedNames[i].path, path) == 0)
                found = storedNames[i].name;
        }
        if (found == nullptr)
            return -1;
    }
    CopyCut(entry->name, found, std::strlen(found), sizeof entry->name);
    return 1;
}

int _findclose(std::intptr_t handle) {
    return handle == -1 ? -1 : 0;
}

#endif

}  // namespace sfx::platform
