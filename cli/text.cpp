#include "cli/text.h"

#include <cstdio>
#include <vector>

#include "platform/code_page.h"

namespace sfx::cli {

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%s%02x", prefix, byte);
    out += text;
}

// Characters that move the cursor, start an escape sequence or change how the text around
// them reads without being seen.
bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0x200b && c <= 0x200f) ||
           (c >= 0x2028 && c <= 0x202e) || (c >= 0x2060 && c <= 0x206f) || c == 0xfeff;
}

// The characters of the text in the code page; every byte invalid when the system has no
// converter for it.
std::vector<platform::CodePageCharacter> Characters(const char* text, std::size_t length,
                                                    unsigned page) {
    std::vector<platform::CodePageCharacter> characters;
    if (!platform::DecodeCodePage(std::string_view(text, length), page, characters)) {
        characters.clear();
        for (std::size_t i = 0; i < length; ++i) characters.push_back({0, i, 1, false});
    }
    return characters;
}

void AppendUnit(std::string& out, unsigned unit) {
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    out += escape;
}

}  // namespace

std::string PrintableText(const char* text, std::size_t length, unsigned page, bool unicode) {
    std::string out;
    for (const platform::CodePageCharacter& one : Characters(text, length, page)) {
        if (one.valid && one.character == '\\') {
            out += "\\\\";
            continue;
        }
        if (one.valid && !IsControl(one.character) && unicode) {
            platform::AppendUtf8(one.character, out);
            continue;
        }
        if (one.valid && !IsControl(one.character) &&
            platform::AppendForTerminal(one.character, out))
            continue;
        for (std::size_t i = 0; i < one.length; ++i)
            AppendHex(out, "\\x", static_cast<unsigned char>(text[one.offset + i]));
    }
    return out;
}

std::string JsonText(const char* text, std::size_t length, unsigned page) {
    std::string out = "\"";
    for (const platform::CodePageCharacter& one : Characters(text, length, page)) {
        const char32_t c = one.valid ? one.character : 0xfffd;
        if (c < 0x80) {
            const char ascii = static_cast<char>(c);
            const std::string json = JsonString(&ascii, 1);
            out.append(json, 1, json.size() - 2);  // without its quotes
        } else if (c < 0x10000) {
            AppendUnit(out, c);
        } else {
            AppendUnit(out, 0xd800 + ((c - 0x10000) >> 10));
            AppendUnit(out, 0xdc00 + ((c - 0x10000) & 0x3ff));
        }
    }
    out += '"';
    return out;
}

std::string HexBytes(const char* text, std::size_t length) {
    std::string out = "\"";
    for (std::size_t i = 0; i < length; ++i)
        AppendHex(out, "", static_cast<unsigned char>(text[i]));
    out += '"';
    return out;
}

std::string Printable(const char* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '\\')
            out += "\\\\";
        else if (byte < 0x20 || byte >= 0x7f)
            AppendHex(out, "\\x", byte);
        else
            out += static_cast<char>(byte);
    }
    return out;
}

std::string Printable(const std::string& text) {
    return Printable(text.data(), text.size());
}

std::string JsonString(const char* text, std::size_t length) {
    std::string out = "\"";
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7f)
                    AppendHex(out, "\\u00", byte);
                else
                    out += static_cast<char>(byte);
        }
    }
    out += '"';
    return out;
}

std::string JsonString(const std::string& text) {
    return JsonString(text.data(), text.size());
}

}  // namespace sfx::cli
