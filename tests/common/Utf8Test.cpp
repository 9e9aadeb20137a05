// The one UTF-8 reader: well-formed text read character by character, every ill-formed byte
// read once as U+FFFD, lengths and cuts counted in characters, and the writer its inverse.
#include "common/Utf8.h"

#include <gtest/gtest.h>

#include <vector>

namespace talvira {
namespace {

std::vector<char32_t> codes(std::string_view s) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < s.size();) {
        const utf8::Char c = utf8::next(s, i);
        out.push_back(c.code);
        i += c.size;
    }
    return out;
}

TEST(Utf8, ReadsCountsAndCuts) {
    constexpr char32_t R = utf8::kReplacement;
    struct Case {
        const char* name;
        std::string text;
        bool valid;
        std::vector<char32_t> codes;
        std::string firstTwo;
    };
    const Case cases[] = {
        {"empty", "", true, {}, ""},
        {"ascii", "A1;", true, {'A', '1', ';'}, "A1"},
        {"cyrillic", "Смета", true, {0x421, 0x43C, 0x435, 0x442, 0x430}, "См"},
        {"three and four bytes", "№€😀", true, {0x2116, 0x20AC, 0x1F600}, "№€"},
        {"limits", "\x7F\xC2\x80\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF", true, {0x7F, 0x80, 0x7FF, 0xFFFF, 0x10FFFF}, "\x7F\xC2\x80"},
        {"lone continuation", "\x80" "a", false, {R, 'a'}, "\x80" "a"},
        {"lead before a letter", "\xD0" "a", false, {R, 'a'}, "\xD0" "a"},
        {"cut off at the end", "a\xE2\x82", false, {'a', R, R}, "a\xE2"},
        {"overlong", "\xC0\xAF\xE0\x80\xAF", false, {R, R, R, R, R}, "\xC0\xAF"},
        {"surrogate", "\xED\xA0\x80", false, {R, R, R}, "\xED\xA0"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", false, {R, R, R, R}, "\xF4\x90"},
        {"never a lead", "\xFE\xFF\xF5\x80", false, {R, R, R, R}, "\xFE\xFF"},
        {"replacement itself", "\xEF\xBF\xBD", true, {R}, "\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8::valid(c.text), c.valid);
        EXPECT_EQ(codes(c.text), c.codes);
        EXPECT_EQ(utf8::length(c.text), c.codes.size());
        EXPECT_EQ(utf8::cut(c.text, 2), c.firstTwo);
        EXPECT_EQ(utf8::cut(c.text, 100), c.text);
        EXPECT_EQ(utf8::cut(c.text, 0), "");
    }
}

TEST(Utf8, WritesWhatItReads) {
    for (char32_t code = 0; code <= 0x10FFFF; ++code) {
        if (code == 0xD800) code = 0xE000;  // surrogates are no characters
        std::string s;
        utf8::append(s, code);
        const utf8::Char c = utf8::next(s, 0);
        ASSERT_TRUE(c.valid && c.code == code && c.size == s.size()) << std::hex << unsigned(code);
    }
}

}  // namespace
}  // namespace talvira
