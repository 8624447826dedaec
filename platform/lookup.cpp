#include "platform/lookup.h"

#ifndef _WIN32

#include <strings.h>

#include <cstring>

namespace sfx::platform {

namespace {

const StoredName* storedNames = nullptr;
std::size_t storedNameCount = 0;

void CopyBounded(char* out, const char* from, std::size_t length, std::size_t capacity) {
    if (out == nullptr)
        return;
    if (length >= capacity)
        length = capacity - 1;
    std::memcpy(out, from, length);
    out[length] = '\0';
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

void SetStoredNames(const StoredName* table, std::size_t count) {
    storedNames = table;
    storedNameCount = table != nullptr ? count : 0;
}

std::intptr_t _findfirst(const char* path, FindData* entry) {
    const char* found = nullptr;
    if (storedNames == nullptr) {
        found = path;
        for (const char* c = path; *c != '\0'; ++c) {
            if (IsSeparator(*c))
                found = c + 1;
        }
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
    CopyBounded(entry->name, found, std::strlen(found), sizeof entry->name);
    return 1;
}

int _findclose(std::intptr_t handle) {
    return handle == -1 ? -1 : 0;
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext) {
    constexpr std::size_t capacity = 256;
    std::size_t start = 0;
    if (path[0] != '\0' && path[1] == ':')
        start = 2;
    CopyBounded(drive, path, start, capacity);

    std::size_t nameStart = start;
    for (std::size_t i = start; path[i] != '\0'; ++i) {
        if (IsSeparator(path[i]))
            nameStart = i + 1;
    }
    CopyBounded(dir, path + start, nameStart - start, capacity);

    const std::size_t end = nameStart + std::strlen(path + nameStart);
    std::size_t dot = end;
    for (std::size_t i = nameStart; i < end; ++i) {
        if (path[i] == '.')
            dot = i;
    }
    CopyBounded(fname, path + nameStart, dot - nameStart, capacity);
    CopyBounded(ext, path + dot, end - dot, capacity);
}

}  // namespace sfx::platform

#endif
