#include "platform/path_text.h"

#include <cstring>
#include <cwchar>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sfx::platform {

namespace {

#ifdef _WIN32
// Whether paths in this process are UTF-8 (set once at start-up, before any other thread).
bool utf8Paths = false;

bool AnsiLeadByte(unsigned char byte) {
    return !utf8Paths && IsDBCSLeadByte(byte) != 0;
}

UINT PathCodePage() {
    return utf8Paths ? CP_UTF8 : CP_ACP;
}
#else
bool AnsiLeadByte(unsigned char) {
    return false;
}
#endif

// The lead-byte test in use; the tests replace it.
bool (*leadByteTest)(unsigned char) = AnsiLeadByte;

}  // namespace

std::size_t NextCharacter(const char* text, std::size_t i) {
    // A lead byte at the very end has no trail byte to take.
    if (IsLeadByte(static_cast<unsigned char>(text[i])) && text[i + 1] != '\0')
        return i + 2;
    return i + 1;
}

bool IsLeadByte(unsigned char byte) {
    return leadByteTest(byte);
}

void SetLeadByteTest(bool (*isLeadByte)(unsigned char)) {
    leadByteTest = isLeadByte != nullptr ? isLeadByte : AnsiLeadByte;
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

std::size_t FolderLength(const char* path) {
    std::size_t folder = 0;
    for (std::size_t i = 0; path[i] != '\0'; i = NextCharacter(path, i)) {
        if (IsPathSeparator(path[i]) || (i == 1 && path[i] == ':'))
            folder = i + 1;
    }
    return folder;
}

bool IsNativeSeparator(char c) {
#ifdef _WIN32
    return IsPathSeparator(c);
#else
    return c == '/';
#endif
}

std::size_t NativeFolderLength(const char* path) {
#ifdef _WIN32
    return FolderLength(path);
#else
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<std::size_t>(slash - path) + 1;
#endif
}

std::size_t ExtensionStart(const char* path) {
    std::size_t i = FolderLength(path);
    std::size_t dot = static_cast<std::size_t>(-1);
    for (; path[i] != '\0'; i = NextCharacter(path, i)) {
        if (path[i] == '.')
            dot = i;
    }
    return dot != static_cast<std::size_t>(-1) ? dot : i;
}

bool EndsWithSeparator(const char* text) {
    bool separator = false;
    for (std::size_t i = 0; text[i] != '\0'; i = NextCharacter(text, i))
        separator = IsPathSeparator(text[i]);
    return separator;
}

std::size_t PathLength(const char* path, std::size_t limit) {
#ifdef _WIN32
    std::size_t count = 0;
    for (std::size_t i = 0; path[i] != '\0' && count <= limit; i = NextCharacter(path, i)) {
        const auto byte = static_cast<unsigned char>(path[i]);
        if (utf8Paths && (byte & 0xC0) == 0x80)
            continue;  // a continuation byte of the character counted before
        count += utf8Paths && byte >= 0xF0 ? 2 : 1;  // beyond U+FFFF: a surrogate pair
    }
    return count;
#else
    return strnlen(path, limit + 1);
#endif
}

#ifdef _WIN32
void UseUtf8Paths() {
    utf8Paths = true;
}

bool WidenPath(const char* path, wchar_t* out, std::size_t capacity) {
    out[0] = L'\0';
    const int length = MultiByteToWideChar(PathCodePage(), MB_ERR_INVALID_CHARS, path, -1, out,
                                           static_cast<int>(capacity));
    if (length <= 0) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

WidePath::WidePath(const char* path) {
    ok = WidenPath(path, text, sizeof text / sizeof text[0]);
}

bool NarrowPath(const wchar_t* wide, char* out, std::size_t capacity) {
    // No best-fit mapping into ANSI: a character the code page lacks must not become a
    // similar-looking one, let alone a "\" or a ".".
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(PathCodePage(), utf8Paths ? 0 : WC_NO_BEST_FIT_CHARS,
                                           wide, -1, out, static_cast<int>(capacity), nullptr,
                                           utf8Paths ? nullptr : &usedDefault);
    bool exact = length > 0 && !usedDefault;
    if (exact && utf8Paths) {
        // An unpaired surrogate becomes U+FFFD on the way: the text would name another file.
        WidePath back(out);
        exact = back.ok && std::wcscmp(back.text, wide) == 0;
    }
    if (!exact && capacity > 0)
        out[0] = '\0';
    return exact;
}

bool PathFromAnsi(const char* ansi, char* out, std::size_t capacity) {
    wchar_t wide[260];
    out[0] = '\0';
    return MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, wide, 260) > 0 &&
           NarrowPath(wide, out, capacity);
}
#endif

}  // namespace sfx::platform
