// The code pages texts and passwords are stored in: finding one by name, taking text from the
// locale's encoding, encoding into the page or refusing what it lacks, reading stored bytes
// back without losing one, and the code page a locale stands for.
#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace sfx::platform {
namespace {

TEST(CodePageTest, FoundByNumberWithOrWithoutPrefix) {
    const struct {
        const char* name;
        unsigned number;  // 0: none
    } rows[] = {
        {"1252", 1252}, {"CP1251", 1251}, {"windows-1250", 1250}, {"Windows-874", 874},
        {"1258", 1258}, {"437", 0},       {"12520", 0},           {"", 0},
        {"cp", 0},      {"utf-8", 0},     {"1252 ", 0},           {"-1252", 0},
        {"932", 932},   {"cp936", 936},   {"Windows-949", 949},   {"950", 950},
        {"1249", 0},    {"65001", 0},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FindCodePage(row.name), row.number) << row.name;
    }
}

TEST(CodePageTest, EncodesWhatThePageHoldsAndNamesWhatItLacks) {
    const struct {
        unsigned page;
        std::u32string text;
        std::string bytes;  // when the page holds the text
        char32_t missing;   // else the first character it lacks
    } rows[] = {
        {1252, U"Caf\u00e9 \u20ac 5", "Caf\xe9 \x80 5", 0},
        {1252, U"\u0152uvre \u00ff", "\x8cuvre \xff", 0},
        {1251, U"\u0416\u0443\u043a", "\xc6\xf3\xea", 0},
        {1250, U"\u0141\u00f3d\u017a",
         "\xa3\xf3"
         "d\x9f",
         0},
        {1253, U"\u03a9", "\xd9", 0},
        {874, U"\u0e01", "\xa1", 0},
        {1252, U"a\u0416b", "", U'\u0416'},
        {1251, U"caf\u00e9", "", U'\u00e9'},
        {1252, U"\u0081", "", U'\u0081'},  // a byte 1252 leaves unassigned is no way in
        {1252, U"\U0001F600", "", U'\U0001F600'},
        {932, U"\u65e5\u672c a\uff71", "\x93\xfa\x96\x7b a\xb1", 0},  // half-width kana: 1 byte
        {932, U"\\~", "\\~", 0},  // ASCII stays ASCII, as Windows has it
        {936, U"\u4e2d\u6587\u20ac", "\xd6\xd0\xce\xc4\x80", 0},
        {949, U"\ud55c\uae00", "\xc7\xd1\xb1\xdb", 0},
        {950, U"\u4e2d\u6587", "\xa4\xa4\xa4\xe5", 0},
        {1258, U"Vi\u1ec7t", "", U'\u1ec7'},  // held only as a base and a combining mark
        {1255, U"\u05e9\u05dc\u05d5\u05dd", "\xf9\xec\xe5\xed", 0},
        {1256, U"\u0633", "\xd3", 0},
        {1257, U"\u0160", "\xd0", 0},
        {1254, U"\u011f", "\xf0", 0},
        {932, U"\u0416x\u00e9", "", U'\u00e9'},  // 932 has Cyrillic, not Latin-1 letters
        {874, U"\uf8c1", "", U'\uf8c1'},         // the Private Use Area is no text
    };
    for (const auto& row : rows) {
        std::string out;
        char32_t missing = 0;
        const bool encoded = EncodeToCodePage(row.text, row.page, out, missing);
        EXPECT_EQ(encoded, row.missing == 0) << row.page << " " << row.bytes;
        if (encoded) {
            EXPECT_EQ(out, row.bytes) << row.page;
        } else {
            EXPECT_EQ(missing, row.missing) << row.page;
        }
    }
}

TEST(CodePageTest, DecodesTheLocalesEncodingAndRefusesInvalidBytes) {
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale in this runtime";
    const struct {
        std::string text;
        bool valid;
        std::u32string characters;
    } rows[] = {
        {"plain", true, U"plain"},
        {"Caf\xc3\xa9 \xe2\x82\xac", true, U"Caf\u00e9 \u20ac"},
        {"\xf0\x9f\x98\x80", true, U"\U0001F600"},
        {"Caf\xe9", false, U""},       // Latin-1, not UTF-8
        {"cut \xc3", false, U""},      // a sequence cut off at the end
        {"\xed\xa0\x80", false, U""},  // a surrogate half
    };
    for (const auto& row : rows) {
        std::u32string characters;
        EXPECT_EQ(DecodeLocaleText(row.text, characters), row.valid) << row.text;
        if (row.valid) {
            EXPECT_EQ(characters, row.characters) << row.text;
        }
    }
    std::setlocale(LC_CTYPE, before.c_str());
}

// Stored bytes read back: every byte lands in one character, an invalid one alone.
TEST(CodePageTest, DecodesEveryByteAndIsolatesInvalidOnes) {
    const struct {
        unsigned page;
        std::string bytes;
        std::u32string characters;  // U+FFFF: an invalid byte
    } rows[] = {
        {1252, "Caf\xe9 \x80", U"Caf\u00e9 \u20ac"},
        {1252,
         "a\x81"
         "b",
         U"a\uffffb"},  // unassigned in 1252
        {1251, "\xc6\xf3\xea", U"\u0416\u0443\u043a"},
        {874, "\xa1\xdb", U"\u0e01\uffff"},
        {932, "\x93\xfa\x96\x7b", U"\u65e5\u672c"},
        {932, "\x93", U"\uffff"},        // a lead byte cut off at the end
        {932, "\x93 ", U"\uffff "},      // a lead byte before no trail byte
        {932, "\x93\x0a", U"\uffff\n"},  // nor a line end swallowed
        {932, "\xb1\x5c", U"\uff71\\"},  // kana, then a backslash
        {936, "\xd6\xd0\xd6", U"\u4e2d\uffff"},
        {936, "\xff\xff", U"\uffff\uffff"},
        {949, "\xc7\xd1\xc7", U"\ud55c\uffff"},
        {950, "\xa4\xa4\x80\x41",
         U"\u4e2d\uffff"
         "A"},
        {1258, "a\xec", U"a\u0301"},  // a combining mark stays apart, as Windows has it
    };
    for (const auto& row : rows) {
        std::vector<CodePageCharacter> characters;
        ASSERT_TRUE(DecodeCodePage(row.bytes, row.page, characters)) << row.page;
        std::u32string decoded;
        std::size_t next = 0;
        for (const CodePageCharacter& one : characters) {
            EXPECT_EQ(one.offset, next) << row.page << " " << row.bytes;
            EXPECT_TRUE(one.valid ? one.length >= 1 : one.length == 1);
            next += one.length;
            decoded.push_back(one.valid ? one.character : U'\uffff');
        }
        EXPECT_EQ(next, row.bytes.size()) << row.page << " " << row.bytes;
        EXPECT_EQ(decoded, row.characters) << row.page << " " << row.bytes;
    }
}

// The ANSI code page Windows gives each system locale, read from a POSIX locale's name.
TEST(CodePageTest, LocaleNamesTheCodePageWindowsWouldUse) {
    const struct {
        const char* locale;
        unsigned page;
    } rows[] = {
        {"ru_RU.UTF-8", 1251}, {"pl_PL.UTF-8", 1250}, {"cs_CZ", 1250},       {"el_GR.UTF-8", 1253},
        {"tr_TR.UTF-8", 1254}, {"he_IL.UTF-8", 1255}, {"ar_EG.UTF-8", 1256}, {"lt_LT.UTF-8", 1257},
        {"lv_LV", 1257},       {"et_EE.UTF-8", 1257}, {"vi_VN", 1258},       {"th_TH.UTF-8", 874},
        {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936},  {"zh_SG", 936},        {"ko_KR.EUC-KR", 949},
        {"zh_TW.UTF-8", 950},  {"zh_HK.UTF-8", 950},  {"uk_UA.UTF-8", 1251}, {"sr_RS", 1251},
        {"sr_RS@latin", 1250}, {"de_DE.UTF-8", 1252}, {"en_US", 1252},       {"fr", 1252},
        {"C", 1252},           {"POSIX", 1252},       {"C.UTF-8", 1252},     {"", 1252},
        {"russian", 1252},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CodePageOfLocale(row.locale), row.page) << row.locale;
    }
}

}  // namespace
}  // namespace sfx::platform
