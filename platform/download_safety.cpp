#include "platform/download_safety.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/path_text.h"
#endif

namespace sfx::platform {

#ifndef _WIN32

void RestrictDllSearch() {}

void CarryDownloadMark(const char*, const char*) {}

#else

void RestrictDllSearch() {
    // Windows looks for a DLL that it does not protect (one outside KnownDLLs, such as
    // uxtheme.dll, which user32 loads on its own) in the program's folder first: in a
    // downloads folder, whatever was dropped there would run as the user.
    // SetDefaultDllDirectories is missing from Windows XP and from Vista and 7 without their
    // update, so it is looked up; kernel32 is always loaded, and nothing is searched for it.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = kernel32 == nullptr
                                ? nullptr
                                : reinterpret_cast<SetDefaultDirectories>(reinterpret_cast<void*>(
                                      GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without it, the current folder at least leaves the search (the program's folder stays).
    SetDllDirectoryW(L"");
}

namespace {

constexpr wchar_t MarkStream[] = L":Zone.Identifier";
// Room for a full path with its "\\?\UNC\" prefix and the stream's name.
constexpr DWORD StreamPathSize = 1024;
// A mark is a few lines of text; one that is larger, or can't be read whole, is carried as
// what it says in any case: the file came from the Internet zone.
constexpr DWORD LargestMark = 64 * 1024;
constexpr char InternetMark[] = "[ZoneTransfer]\r\nZoneId=3\r\n";

// The path of `path`'s mark stream in the form that takes no length limit ("\\?\X:\...",
// "\\?\UNC\server\share\..."), which a path near MAX_PATH needs once the stream's name is
// added; false when it does not fit.
bool MarkStreamPath(const char* path, wchar_t* out) {
    wchar_t wide[MAX_PATH];
    if (!WidenPath(path, wide, MAX_PATH))
        return false;
    wchar_t full[StreamPathSize];
    const DWORD length = GetFullPathNameW(wide, StreamPathSize, full, nullptr);
    if (length == 0 || length >= StreamPathSize)
        return false;
    const bool twoSeparators = full[0] == L'\\' && full[1] == L'\\';
    // Given as "\\?\..." or "\\.\...": taken as it stands.
    const bool verbatim = twoSeparators && (full[2] == L'?' || full[2] == L'.') && full[3] == L'\\';
    const bool network = twoSeparators && !verbatim;
    const bool drive = full[0] != L'\0' && full[1] == L':' && full[2] == L'\\';
    if (!verbatim && !network && !drive)
        return false;
    const wchar_t* prefix = verbatim ? L"" : network ? L"\\\\?\\UNC" : L"\\\\?\\";
    const wchar_t* rest = network ? full + 1 : full;  // "\server\share\..." after "UNC"
    const std::size_t prefixLength = lstrlenW(prefix);
    const std::size_t restLength = lstrlenW(rest);
    const std::size_t streamLength = sizeof MarkStream / sizeof MarkStream[0];  // with the NUL
    if (prefixLength + restLength + streamLength > StreamPathSize)
        return false;
    lstrcpynW(out, prefix, static_cast<int>(prefixLength + 1));
    lstrcpynW(out + prefixLength, rest, static_cast<int>(restLength + 1));
    lstrcpynW(out + prefixLength + restLength, MarkStream, static_cast<int>(streamLength));
    return true;
}

// Copies the open mark `from` into the open, empty mark `to`; false when it was too large
// or could not be read whole (what was written then stays for the caller to replace).
bool CopyMark(HANDLE from, HANDLE to) {
    char buffer[4096];
    DWORD total = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from, buffer, sizeof buffer, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        total += got;
        DWORD put = 0;
        if (total > LargestMark || !WriteFile(to, buffer, got, &put, nullptr) || put != got)
            return false;
    }
}

}  // namespace

void CarryDownloadMark(const char* fromPath, const char* toPath) {
    wchar_t stream[StreamPathSize];
    if (!MarkStreamPath(fromPath, stream))
        return;
    const HANDLE from =
        CreateFileW(stream, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (from == INVALID_HANDLE_VALUE)
        return;  // no mark, or a disk without streams
    HANDLE to = INVALID_HANDLE_VALUE;
    if (MarkStreamPath(toPath, stream)) {
        // The file is the one just placed; a link put in its place meanwhile is not followed.
        to = CreateFileW(stream, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (to != INVALID_HANDLE_VALUE && !CopyMark(from, to)) {
        DWORD put = 0;
        SetFilePointer(to, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(to);
        WriteFile(to, InternetMark, sizeof InternetMark - 1, &put, nullptr);
    }
    if (to != INVALID_HANDLE_VALUE)
        CloseHandle(to);
    CloseHandle(from);
}

#endif

}  // namespace sfx::platform
