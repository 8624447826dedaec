// Texts for the extractor's dialog in a Windows single-byte code page: the dialog shows each
// byte as the character of the system's code page (Windows-1252 on Western systems), so
// sfx-pack converts the riddle and the description from the locale's encoding into the code
// page of the machines the file is meant for.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sfx {

struct CodePage {
    unsigned number;
    // The characters of bytes 0x80 to 0xFF, 0 where the code page assigns none; bytes below
    // 0x80 are ASCII in every code page here.
    char16_t upper[128];
};

// Windows-874 and Windows-1250 to Windows-1258 (tools/code_page_tables.cpp, generated).
extern const CodePage CodePages[];
extern const std::size_t CodePageCount;

inline constexpr unsigned DefaultCodePage = 1252;

// The code page named NUMBER, cpNUMBER or windows-NUMBER (any case); null when none is.
const CodePage* FindCodePage(std::string_view name);

// Decodes text in the C library's current multibyte encoding: the locale's once
// setlocale(LC_CTYPE, "") has run. False when the bytes are not valid in it.
bool DecodeLocaleText(std::string_view text, std::u32string& out);

// Encodes characters into the code page. False, with `bad` the first character the code
// page cannot hold, when there is one.
bool EncodeToCodePage(std::u32string_view text, const CodePage& page, std::string& out,
                      char32_t& bad);

}  // namespace sfx
