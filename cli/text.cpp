#include "cli/text.h"

#include <cstdio>

namespace sfx::cli {

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "%s%02x", prefix, byte);
    out += text;
}

}  // namespace

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
