#include "platform/code_page.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cuchar>
#include <cwchar>
#include <string>

#include "platform/bytes.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <iconv.h>
#include <langinfo.h>
#endif

namespace sfx::platform {

const unsigned CodePageNumbers[] = {874,  1250, 1251, 1252, 1253, 1254, 1255,
                                    1256, 1257, 1258, 932,  936,  949,  950};
const std::size_t CodePageCount = sizeof CodePageNumbers / sizeof CodePageNumbers[0];

namespace {

// The longest character of any code page here, in bytes.
constexpr std::size_t LongestCharacter = 2;

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

// Characters no code page here holds as text: the C1 controls that 1252's unassigned bytes
// become on Windows, and the Private Use Area that 874's become.
bool NeverText(char32_t c) {
    return (c >= 0x80 && c <= 0x9f) || (c >= 0xe000 && c <= 0xf8ff) || c > 0x10ffff ||
           (c >= 0xd800 && c <= 0xdfff);
}

}  // namespace

unsigned FindCodePage(std::string_view name) {
    if (!TakePrefix(name, "windows-"))
        TakePrefix(name, "cp");
    if (name.empty() || name.size() > 5)
        return 0;
    unsigned number = 0;
    for (char c : name) {
        if (c < '0' || c > '9')
            return 0;
        number = number * 10 + static_cast<unsigned>(c - '0');
    }
    for (std::size_t i = 0; i < CodePageCount; ++i) {
        if (CodePageNumbers[i] == number)
            return number;
    }
    return 0;
}

// True when `bytes` are exactly the one character `c` in the code page: what a character
// encodes to must read back as itself, never as a base and a mark or as another character.
bool DecodesTo(std::string_view bytes, unsigned page, char32_t c) {
    std::vector<CodePageCharacter> characters;
    return DecodeCodePage(bytes, page, characters) && characters.size() == 1 &&
           characters[0].valid && characters[0].character == c;
}

#ifdef _WIN32

namespace {

// One character's UTF-16 units; the count.
int ToUnits(char32_t c, wchar_t units[2]) {
    if (c < 0x10000) {
        units[0] = static_cast<wchar_t>(c);
        return 1;
    }
    c -= 0x10000;
    units[0] = static_cast<wchar_t>(0xd800 + (c >> 10));
    units[1] = static_cast<wchar_t>(0xdc00 + (c & 0x3ff));
    return 2;
}

// The character of the `length` bytes at `bytes` in `page`, or false when they are none.
bool DecodeOne(UINT page, const char* bytes, int length, char32_t& c) {
    wchar_t units[2];
    const int count = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes, length, units, 2);
    if (count != 1)
        return false;  // none, or more than one character
    c = units[0];
    return true;
}

// Appends the character in `page`; false when the page has no such character (no best fit).
bool EncodeOne(UINT page, char32_t c, std::string& out) {
    wchar_t units[2];
    const int unitCount = ToUnits(c, units);
    char bytes[8];
    BOOL usedDefault = FALSE;
    const bool utf8 = page == CP_UTF8;
    const int count =
        WideCharToMultiByte(page, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, units, unitCount, bytes,
                            sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (count <= 0 || usedDefault)
        return false;
    out.append(bytes, static_cast<std::size_t>(count));
    return true;
}

}  // namespace

bool DecodeCodePage(std::string_view bytes, unsigned page, std::vector<CodePageCharacter>& out) {
    out.clear();
    if (!IsValidCodePage(page))
        return false;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<BYTE>(bytes[at]);
        std::size_t length = IsDBCSLeadByteEx(page, lead) ? 2 : 1;
        char32_t c = 0;
        const bool valid = length <= bytes.size() - at &&
                           DecodeOne(page, bytes.data() + at, static_cast<int>(length), c) &&
                           !NeverText(c);
        if (!valid)
            length = 1;  // the byte alone; the next one is looked at for itself
        out.push_back({valid ? c : 0, at, length, valid});
        at += length;
    }
    return true;
}

bool EncodeToCodePage(std::u32string_view text, unsigned page, std::string& out, char32_t& bad) {
    out.clear();
    for (char32_t c : text) {
        const std::size_t before = out.size();
        if (NeverText(c) || c == 0 || !EncodeOne(page, c, out) ||
            !DecodesTo(std::string_view(out).substr(before), page, c)) {
            bad = c;
            return false;
        }
    }
    return true;
}

bool DecodeLocaleText(std::string_view text, std::u32string& out) {
    out.clear();
    std::vector<CodePageCharacter> characters;
    if (!DecodeCodePage(text, GetACP(), characters))
        return false;
    for (const CodePageCharacter& one : characters) {
        if (!one.valid)
            return false;
        out.push_back(one.character);
    }
    return true;
}

bool AppendForTerminal(char32_t character, std::string& out) {
    UINT page = GetConsoleOutputCP();
    if (page == 0)
        page = GetACP();  // no console: the bytes go where the ANSI code page is read
    return EncodeOne(page, character, out);
}

namespace {

// True when the C library's argv entry is `wide` in the ANSI code page, converted as the
// system converts the command line for GetCommandLineA (best fit, '?' for the rest): then
// both are the same argument, however each split the command line.
bool SameArgument(const wchar_t* wide, const char* ansi) {
    const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return false;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    const bool same =
        WideCharToMultiByte(CP_ACP, 0, wide, -1, bytes.data(), size, nullptr, nullptr) == size &&
        std::strcmp(bytes.c_str(), ansi) == 0;
    Wipe(bytes.data(), bytes.size());  // it may be a password
    return same;
}

// The characters of UTF-16 text; false at a lone surrogate.
bool FromUtf16(const wchar_t* wide, std::u32string& out) {
    out.clear();
    for (const wchar_t* at = wide; *at != L'\0'; ++at) {
        char32_t c = static_cast<char16_t>(*at);
        const char32_t next = static_cast<char16_t>(at[1]);
        if (c >= 0xd800 && c <= 0xdbff && next >= 0xdc00 && next <= 0xdfff) {
            c = 0x10000 + ((c - 0xd800) << 10) + (next - 0xdc00);
            ++at;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            return false;
        }
        out.push_back(c);
    }
    return true;
}

}  // namespace

bool ArgumentCharacters(char** argv, int index, std::size_t offset, std::u32string& out) {
    out.clear();
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    bool fromWide = false;
    bool valid = false;
    if (wide != nullptr) {
        if (index > 0 && index < count && SameArgument(wide[index], argv[index])) {
            fromWide = true;
            valid = FromUtf16(wide[index], out);
        }
        for (int i = 0; i < count; ++i) Wipe(wide[i], std::wcslen(wide[i]) * sizeof(wchar_t));
        LocalFree(wide);
    }
    if (!fromWide)
        valid = DecodeLocaleText(argv[index], out);
    if (!valid || offset > out.size())
        return false;
    out.erase(0, offset);  // "--name=": ASCII, one character a byte
    return true;
}

unsigned SystemCodePage() {
    const unsigned page = GetACP();
    return FindCodePage(std::to_string(page)) != 0 ? page : WesternCodePage;
}

#else

namespace {

// One conversion, closed when it goes.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (open())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool open() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all `length` bytes at `in` afresh (no state from before), flushing what the
    // converter holds back; the count of bytes written to `out`, or -1 when they are not
    // one whole text of the source set or do not fit in `capacity`.
    long Convert(const char* in, std::size_t length, char* out, std::size_t capacity) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* from = const_cast<char*>(in);
        char* to = out;
        std::size_t left = capacity;
        if (iconv(cd_, &from, &length, &to, &left) == static_cast<std::size_t>(-1) ||
            iconv(cd_, nullptr, nullptr, &to, &left) == static_cast<std::size_t>(-1))
            return -1;
        return static_cast<long>(capacity - left);
    }

  private:
    iconv_t cd_;
};

// iconv's name of each code page: Microsoft's variants where glibc tells them apart.
std::string IconvName(unsigned page) {
    return "CP" + std::to_string(page);
}

// Characters cross as UTF-32 in little-endian order, whatever the machine's.
constexpr char Utf32[] = "UTF-32LE";

void StoreUtf32(char32_t c, char out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((c >> (8 * i)) & 0xff);
}

char32_t LoadUtf32(const char in[4]) {
    char32_t c = 0;
    for (int i = 3; i >= 0; --i) c = (c << 8) | static_cast<unsigned char>(in[i]);
    return c;
}

// The character of the `length` bytes at `bytes`, or false when they are not exactly one.
bool DecodeOne(Converter& converter, const char* bytes, std::size_t length, char32_t& c) {
    char units[16];
    if (converter.Convert(bytes, length, units, sizeof units) != 4)
        return false;
    c = LoadUtf32(units);
    return true;
}

// Appends the character as the converter's target set holds it; false when it has none.
bool EncodeOne(Converter& converter, char32_t c, std::string& out) {
    char unit[4];
    StoreUtf32(c, unit);
    char bytes[16];
    const long count = converter.Convert(unit, sizeof unit, bytes, sizeof bytes);
    if (count <= 0)
        return false;
    out.append(bytes, static_cast<std::size_t>(count));
    return true;
}

}  // namespace

bool DecodeCodePage(std::string_view bytes, unsigned page, std::vector<CodePageCharacter>& out) {
    out.clear();
    Converter converter(Utf32, IconvName(page).c_str());
    if (!converter.open())
        return false;
    for (std::size_t at = 0; at < bytes.size();) {
        // The shortest run of bytes from here that is one character, if any is.
        char32_t c = 0;
        std::size_t length = 1;
        bool valid = false;
        for (; length <= LongestCharacter && length <= bytes.size() - at; ++length) {
            if (DecodeOne(converter, bytes.data() + at, length, c)) {
                valid = !NeverText(c);
                break;
            }
        }
        if (!valid)
            length = 1;  // the byte alone; the next one is looked at for itself
        out.push_back({valid ? c : 0, at, length, valid});
        at += length;
    }
    return true;
}

bool EncodeToCodePage(std::u32string_view text, unsigned page, std::string& out, char32_t& bad) {
    out.clear();
    Converter converter(IconvName(page).c_str(), Utf32);
    for (char32_t c : text) {
        const std::size_t before = out.size();
        if (!converter.open() || NeverText(c) || c == 0 || !EncodeOne(converter, c, out) ||
            !DecodesTo(std::string_view(out).substr(before), page, c)) {
            bad = c;
            return false;
        }
    }
    return true;
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

bool AppendForTerminal(char32_t character, std::string& out) {
    if (character < 0x80) {
        out.push_back(static_cast<char>(character));  // ASCII in every terminal's set
        return true;
    }
    Converter converter(nl_langinfo(CODESET), Utf32);
    return converter.open() && EncodeOne(converter, character, out);
}

bool ArgumentCharacters(char** argv, int index, std::size_t offset, std::u32string& out) {
    if (!DecodeLocaleText(argv[index], out) || offset > out.size())
        return false;
    out.erase(0, offset);  // "--name=": ASCII, one character a byte
    return true;
}

unsigned SystemCodePage() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return CodePageOfLocale(value);
    }
    return WesternCodePage;
}

#endif

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return;
    }
    char bytes[4];
    std::size_t length = 0;
    if (c < 0x800) {
        bytes[length++] = static_cast<char>(0xc0 | (c >> 6));
    } else if (c < 0x10000) {
        bytes[length++] = static_cast<char>(0xe0 | (c >> 12));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    } else {
        bytes[length++] = static_cast<char>(0xf0 | (c >> 18));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    }
    bytes[length++] = static_cast<char>(0x80 | (c & 0x3f));
    out.append(bytes, length);
}

namespace {

// The languages whose Windows system locale has an ANSI code page other than 1252, by ISO 639
// code; Chinese goes by territory instead, and Serbian and the like by script.
struct LanguagePage {
    const char* language;
    unsigned page;
};
constexpr LanguagePage LanguagePages[] = {
    {"pl", 1250}, {"cs", 1250}, {"sk", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250},
    {"ro", 1250}, {"sq", 1250}, {"bs", 1250}, {"ru", 1251}, {"uk", 1251}, {"be", 1251},
    {"bg", 1251}, {"mk", 1251}, {"sr", 1251}, {"kk", 1251}, {"ky", 1251}, {"tt", 1251},
    {"mn", 1251}, {"tg", 1251}, {"ba", 1251}, {"el", 1253}, {"tr", 1254}, {"az", 1254},
    {"uz", 1254}, {"he", 1255}, {"iw", 1255}, {"yi", 1255}, {"ar", 1256}, {"fa", 1256},
    {"ur", 1256}, {"ps", 1256}, {"ug", 1256}, {"et", 1257}, {"lv", 1257}, {"lt", 1257},
    {"vi", 1258}, {"th", 874},  {"ja", 932},  {"ko", 949},
};

}  // namespace

unsigned CodePageOfLocale(std::string_view locale) {
    // language[_territory][.charset][@modifier]
    const std::string_view language = locale.substr(0, locale.find_first_of("_.@"));
    std::string_view territory;
    if (const std::size_t underscore = locale.find('_'); underscore != std::string_view::npos) {
        territory = locale.substr(underscore + 1);
        territory = territory.substr(0, territory.find_first_of(".@"));
    }
    std::string_view modifier;
    if (const std::size_t at = locale.find('@'); at != std::string_view::npos)
        modifier = locale.substr(at + 1);
    if (language == "zh")
        return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
    // A script other than the language's usual one changes the code page.
    if (modifier == "latin" && (language == "sr" || language == "bs"))
        return 1250;
    if (modifier == "cyrillic" && (language == "uz" || language == "az" || language == "bs"))
        return 1251;
    for (const LanguagePage& entry : LanguagePages) {
        if (language == entry.language)
            return entry.page;
    }
    return WesternCodePage;
}

}  // namespace sfx::platform
