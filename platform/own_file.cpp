#include "platform/own_file.h"

#include <cerrno>
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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sfx::platform {

namespace {

// Creates the file `file.path` names, exclusively and owner-only, in the held folder where
// there is one; tracked for deletion on an interrupt from the moment it exists.
bool CreateNamed(OwnFile& file) {
    // An interrupt never comes between creating the file and tracking it.
    InterruptsHeld held;
#ifdef _WIN32
    file.stream = CreateNewFile(file.path);
    if (file.stream == nullptr)
        return false;
    TrackTemporary(file.path);
#else
    const int descriptor =
        ::openat(file.folder, file.Name(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 S_IRUSR | S_IWUSR);
    if (descriptor < 0)
        return false;
    file.stream = fdopen(descriptor, "w+b");
    if (file.stream == nullptr) {
        const int error = errno;
        ::close(descriptor);
        ::unlinkat(file.folder, file.Name(), 0);
        errno = error;
        return false;
    }
    TrackTemporaryAt(file.folder, file.Name());
#endif
    return true;
}

}  // namespace

bool OwnFile::CreateBeside(const char* siblingPath) {
    Remove();
    const std::size_t folderLength = FolderLength(siblingPath);
    // The platform counts a path's length in characters; each name character is one byte.
    constexpr std::size_t characterCapacity = PathCapacity / BytesPerPathCharacter;
    const std::size_t folderCharacters = PathLength(siblingPath, PathCapacity) -
                                         PathLength(siblingPath + folderLength, PathCapacity);
    if (folderLength + 5 + 1 > PathCapacity || folderCharacters + 5 + 1 > characterCapacity)
        return false;
    std::size_t nameLength = characterCapacity - 1 - folderCharacters;
    if (nameLength > 14)
        nameLength = 14;
#ifndef _WIN32
    folder = HoldFolder(siblingPath, folderLength);
    if (folder < 0)
        return false;
#endif
    std::memcpy(path, siblingPath, folderLength);
    nameAt = folderLength;
    for (int attempt = 0; attempt < 100; ++attempt) {
        RandomName(path + folderLength, nameLength);
        if (CreateNamed(*this)) {
            present = true;
            // The passes hand over whole chunks: a stream buffer would only add a copy.
            std::setvbuf(stream, nullptr, _IONBF, 0);
            return true;
        }
        if (!Clashed())
            break;  // the folder takes no new file
    }
    Remove();
    return false;
}

bool OwnFile::CreateFor(const char* destination, bool privately) {
#if defined(O_TMPFILE)
    Remove();
    const std::size_t folderLength = FolderLength(destination);
    folder = HoldFolder(destination, folderLength);
    if (folder >= 0 && folderLength < PathCapacity) {
        // The mode a "wb" open asks for: the kernel applies the umask, or the folder's
        // default ACL, exactly as it would for a file created under that name.
        const int descriptor = ::openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC,
                                        privately ? S_IRUSR | S_IWUSR : 0666);
        if (descriptor >= 0) {
            stream = fdopen(descriptor, "w+b");
            if (stream == nullptr) {
                ::close(descriptor);
            } else {
                std::memcpy(path, destination, folderLength);
                path[folderLength] = '\0';
                nameAt = folderLength;
                present = true;
                unnamed = true;
                std::setvbuf(stream, nullptr, _IONBF, 0);
                return true;
            }
        }
    }
    // Another file system, an older kernel: a named file, as everywhere else.
#else
    (void)privately;
#endif
    return CreateBeside(destination);
}

bool OwnFile::Close() {
    if (stream == nullptr)
        return true;
    const bool stored = std::fclose(stream) == 0;
    stream = nullptr;
    return stored;
}

void OwnFile::Remove() {
    Close();  // an unnamed file is gone with its last descriptor
    if (present && !unnamed) {
#ifdef _WIN32
        Delete(path);
        UntrackTemporary(path);
#else
        ::unlinkat(folder, Name(), 0);
        UntrackTemporaryAt(folder, Name());
#endif
    }
    present = false;
    unnamed = false;
#ifndef _WIN32
    if (folder >= 0)
        ::close(folder);
#endif
    folder = -1;
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
    // The caller moves or deletes it by its path.
    {
        InterruptsHeld held;
        TrackTemporary(file.path);
        UntrackTemporaryAt(file.folder, file.Name());
    }
#endif
    // The caller's now, still tracked until it is moved or deleted.
    std::FILE* stream = file.stream;
    file.stream = nullptr;
    file.present = false;
    return stream;
}

void KeepFile(OwnFile& file, const char* preferredPath) {
    if (!file.present || file.unnamed)
        return;
    file.Close();
    char kept[PathCapacity];
#ifdef _WIN32
    UntrackTemporary(file.path);
    if (CopyWhole(kept, preferredPath, sizeof kept) && Move(file.path, kept, false))
        CopyWhole(file.path, kept, sizeof file.path);
#else
    UntrackTemporaryAt(file.folder, file.Name());
    // Renamed within its folder only: the folder's path may since name another.
    const std::size_t folderLength = FolderLength(preferredPath);
    if (folderLength == file.nameAt && std::memcmp(preferredPath, file.path, folderLength) == 0 &&
        CopyWhole(kept, preferredPath, sizeof kept) &&
        MoveNoReplaceAt(file.folder, file.Name(), kept + folderLength))
        CopyWhole(file.path, kept, sizeof file.path);
    ::close(file.folder);
    file.folder = -1;
#endif
    file.present = false;
}

}  // namespace sfx::platform
