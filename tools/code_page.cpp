#include "tools/code_page.h"

#include <cctype>
#include <cuchar>
#include <cwchar>

namespace sfx {
namespace {

// True when `text` starts with `prefix`, in any case; the prefix is then dropped.
bool TakePrefix(std::string_view& text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

}  // namespace

const CodePage* FindCodePage(std::string_view name) {
    if (!TakePrefix(name, "windows-"))
        TakePrefix(name, "cp");
    if (name.empty() || name.size() > 5)
        return nullptr;
    unsigned number = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return nullptr;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    for (std::size_t i = 0; i < CodePageCount; ++i) {
        if (CodePages[i].number == number)
            return &CodePages[i];
    }
    return nullptr;
}

bool DecodeLocaleText(std::string_view text, std::u32string& out) {
    out.clear();
    std::mbstate_t state{};
    const char* next = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        char32_t c = 0;
        const std::size_t used = std::mbrtoc32(&c, next, left, &state);
        if (used == static_cast<std::size_t>(-1) || used == static_cast<std::size_t>(-2))
            return false;  // invalid, or cut off at the end
        out.push_back(c);
        if (used == static_cast<std::size_t>(-3))
            continue;  // the second half of a pair, taking no more bytes
        const std::size_t taken = used == 0 ? 1 : used;  // 0: a NUL byte
        next += taken;
        left -= taken;
    }
    return true;
}

bool EncodeToCodePage(std::u32string_view text, const CodePage& page, std::string& out,
                      char32_t& bad) {
    out.clear();
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        std::size_t byte = 0;
        // c >= 0x80, so it never matches an unassigned 0.
        while (byte < 128 && page.upper[byte] != c) ++byte;
        if (byte == 128) {
            bad = c;
            return false;
        }
        out.push_back(static_cast<char>(0x80 + byte));
    }
    return true;
}

}  // namespace sfx
