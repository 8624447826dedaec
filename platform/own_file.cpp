#include "platform/own_file.h"

#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/file_calls.h"
#include "platform/interrupts.h"
#include "platform/path_text.h"
#include "platform/temporaries.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sfx::platform {

namespace {

std::uint32_t NextRandom() {
    static std::uint32_t state = 0;
    if (state == 0) {
#ifdef _WIN32
        state = static_cast<std::uint32_t>(GetTickCount()) ^
                (static_cast<std::uint32_t>(GetCurrentProcessId()) << 16);
#else
        state = static_cast<std::uint32_t>(time(nullptr)) ^
                (static_cast<std::uint32_t>(getpid()) << 16);
#endif
        state |= 1;
    }
    // xorshift32
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Writes a fresh name of `length` (5 to 14) characters at `name`: "~sfx", six random
// characters and ".tmp" when there is room, "~" and random characters otherwise.
void RandomName(char* name, std::size_t length) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const bool full = length >= 14;
    std::size_t at = 0;
    if (full) {
        std::memcpy(name, "~sfx", 4);
        at = 4;
    } else {
        name[at++] = '~';
    }
    const std::size_t randomEnd = full ? 10 : length;
    std::uint32_t bits = NextRandom();
    for (int used = 0; at < randomEnd; ++at, ++used) {
        if (used == 6) {
            bits = NextRandom();
            used = 0;
        }
        name[at] = digits[bits % 36];
        bits /= 36;
    }
    if (full)
        std::memcpy(name + 10, ".tmp", 4);
    name[full ? 14 : length] = '\0';
}

}  // namespace

bool OwnFile::CreateBeside(const char* siblingPath) {
    Remove();
    const std::size_t folder = FolderLength(siblingPath);
    // The platform counts a path's length in characters; each name character is one byte.
    constexpr std::size_t characterCapacity = PathCapacity / BytesPerPathCharacter;
    const std::size_t folderCharacters =
        PathLength(siblingPath, PathCapacity) - PathLength(siblingPath + folder, PathCapacity);
    if (folder + 5 + 1 > PathCapacity || folderCharacters + 5 + 1 > characterCapacity)
        return false;
    std::size_t nameLength = characterCapacity - 1 - folderCharacters;
    if (nameLength > 14)
        nameLength = 14;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::memcpy(path, siblingPath, folder);
        RandomName(path + folder, nameLength);
        // An interrupt never comes between creating the file and tracking it.
        InterruptsHeld held;
        stream = CreateNewFile(path);
        if (stream != nullptr) {
            TrackTemporary(path);
            present = true;
            // The passes hand over whole chunks: a stream buffer would only add a copy.
            std::setvbuf(stream, nullptr, _IONBF, 0);
            return true;
        }
        if (!Clashed())
            return false;  // the folder takes no new file
    }
    return false;
}

bool OwnFile::Close() {
    if (stream == nullptr)
        return true;
    const bool stored = std::fclose(stream) == 0;
    stream = nullptr;
    return stored;
}

void OwnFile::Remove() {
    Close();
    if (!present)
        return;
    Delete(path);
    UntrackTemporary(path);
    present = false;
}

std::FILE* CreateUniqueSibling(const char* siblingPath, char* pathOut, std::size_t capacity) {
    OwnFile file;
    if (!file.CreateBeside(siblingPath))
        return nullptr;
    if (!CopyWhole(pathOut, file.path, capacity))
        return nullptr;  // deleted again as `file` goes
#ifndef _WIN32
    // Made for a program's output, which gets the usual permissions.
    fchmod(fileno(file.stream), 0666 & ~CurrentUmask());
#endif
    // The caller's now, still tracked until it is moved or deleted.
    std::FILE* stream = file.stream;
    file.stream = nullptr;
    file.present = false;
    return stream;
}

void KeepFile(OwnFile& file, const char* preferredPath) {
    if (!file.present)
        return;
    file.Close();
    UntrackTemporary(file.path);
    file.present = false;
    char kept[PathCapacity];
    if (CopyWhole(kept, preferredPath, sizeof kept) && Move(file.path, kept, false))
        CopyWhole(file.path, kept, sizeof file.path);
}

}  // namespace sfx::platform
