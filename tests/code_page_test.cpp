// The code pages sfx-pack stores texts in: finding one by name, taking text from the
// locale's encoding, and encoding into the page or refusing what it lacks.
#include "tools/code_page.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace sfx {
namespace {

TEST(CodePageTest, FoundByNumberWithOrWithoutPrefix) {
    const struct {
        const char* name;
        unsigned number;  // 0: none
    } rows[] = {
        {"1252", 1252}, {"CP1251", 1251}, {"windows-1250", 1250}, {"Windows-874", 874},
        {"1258", 1258}, {"437", 0},       {"12520", 0},           {"", 0},
        {"cp", 0},      {"utf-8", 0},     {"1252 ", 0},           {"-1252", 0},
    };
    for (const auto& row : rows) {
        const CodePage* page = FindCodePage(row.name);
        EXPECT_EQ(page == nullptr ? 0u : page->number, row.number) << row.name;
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
    };
    for (const auto& row : rows) {
        const CodePage* page = FindCodePage(std::to_string(row.page));
        ASSERT_NE(page, nullptr) << row.page;
        std::string out;
        char32_t missing = 0;
        const bool encoded = EncodeToCodePage(row.text, *page, out, missing);
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

}  // namespace
}  // namespace sfx
