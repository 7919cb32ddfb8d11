// The one UTF-8 reader and the one table of letter case.

#include "base/utf8.h"

#include <gtest/gtest.h>

#include "base/letter_case.h"

using namespace lumora;

namespace {

// Each character's code point, or -1 and one byte for an invalid sequence.
std::vector<long> codePoints(std::string_view text) {
    std::vector<long> out;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decodeUtf8(text, i);
        out.push_back(c.valid ? static_cast<long>(c.codePoint) : -1);
        i += c.length;
    }
    return out;
}

}  // namespace

TEST(Utf8, DecodesEachLengthUpToTheLastCodePoint) {
    EXPECT_EQ(codePoints("a\xc3\xbc\xe2\x8c\x98\xf0\x9f\x92\xa1"),
              (std::vector<long>{'a', 0xFC, 0x2318, 0x1F4A1}));
    // The smallest and largest of each length, and the characters around the surrogates.
    EXPECT_EQ(
        codePoints("\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf"
                   "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"),
        (std::vector<long>{0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFFFF, 0x10000, 0x10FFFF}));
    EXPECT_TRUE(isValidUtf8(""));
    EXPECT_TRUE(isValidUtf8("plain"));
    EXPECT_TRUE(
        isValidUtf8("K\xc3\xbc"
                    "che \xe2\x8c\x98 \xf0\x9f\x92\xa1"));
    std::string encoded;
    for (char32_t c : {U'a', U'\u00FC', U'\u2318', U'\U0001F4A1', U'\U0010FFFF'})
        appendUtf8(encoded, c);
    EXPECT_EQ(encoded, "a\xc3\xbc\xe2\x8c\x98\xf0\x9f\x92\xa1\xf4\x8f\xbf\xbf");
}

TEST(Utf8, RefusesEveryMalformedSequenceOneByteAtATime) {
    const struct {
        const char* what;
        std::string bytes;
    } bad[] = {
        {"stray continuation", "\x80"},
        {"no lead byte of any length", "\xff"},
        {"five-byte lead", "\xf8\x88\x80\x80\x80"},
        {"cut short at the end", "\xc3"},
        {"cut short at the end, three bytes", "\xe2\x82"},
        {"cut short by ASCII",
         "\xe2\x82"
         "A"},
        {"overlong two bytes", "\xc0\xaf"},
        {"overlong two bytes, C1", "\xc1\xbf"},
        {"overlong three bytes", "\xe0\x80\xaf"},
        {"overlong four bytes", "\xf0\x8f\xbf\xbf"},
        {"high surrogate", "\xed\xa0\x80"},
        {"low surrogate", "\xed\xbf\xbf"},
        {"past U+10FFFF", "\xf4\x90\x80\x80"},
        {"lead past U+10FFFF", "\xf5\x80\x80\x80"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(isValidUtf8(b.bytes)) << b.what;
        EXPECT_FALSE(isValidUtf8("ok " + b.bytes + " ok")) << b.what;
        // Long ASCII runs are read a word at a time: a bad sequence at any
        // offset from the word, and at the very end, is still found.
        for (std::size_t lead = 0; lead < 17; ++lead) {
            const std::string run(lead, 'x');
            EXPECT_FALSE(isValidUtf8(run + b.bytes + run)) << b.what << " after " << lead;
            EXPECT_FALSE(isValidUtf8(run + b.bytes)) << b.what << " after " << lead;
            EXPECT_TRUE(isValidUtf8(run + "\xc3\xbc" + run)) << lead;
        }
        const Utf8Char c = decodeUtf8(b.bytes, 0);
        EXPECT_FALSE(c.valid) << b.what;
        EXPECT_EQ(c.length, 1u) << b.what;
        EXPECT_EQ(c.codePoint, U'\uFFFD') << b.what;
    }
    // After a bad byte reading goes on with the next; each bad byte is one U+FFFD.
    EXPECT_EQ(codePoints("\xe2\x82"
                         "A\xc3\xbc"),
              (std::vector<long>{-1, -1, 'A', 0xFC}));
    EXPECT_EQ(withInvalidUtf8Replaced("ok\xe2\x82 \xc3\xbc\xff"),
              "ok\xEF\xBF\xBD\xEF\xBF\xBD \xc3\xbc\xEF\xBF\xBD");
    EXPECT_EQ(withInvalidUtf8Replaced("\xef\xbf\xbd stays"), "\xef\xbf\xbd stays");
}

TEST(Utf8, TrimKeepsInnerTextAndCutsOnlyWholeCharacters) {
    EXPECT_EQ(trimUnicodeSpace("\xC2\xA0 a b \xE2\x80\x8B"), "a b");
    EXPECT_EQ(
        trimUnicodeSpace("\t\xE1\x9A\x80\xE2\x80\x80x\xE2\x80\x8A\xE2\x81\x9F\xEF\xBB\xBF\r\n"),
        "x");
    // A lone lead byte of a wide space is not a space and stays.
    EXPECT_EQ(trimUnicodeSpace("a\xE2\x80"), "a\xE2\x80");
    EXPECT_EQ(trimUnicodeSpace("\x80\xA0 a"), "\x80\xA0 a");
    EXPECT_EQ(trimUnicodeSpace(""), "");
    EXPECT_EQ(trimUnicodeSpace("\xE3\x80\x80"), "");
    // Neighbours of the spaces that are not space: U+2060 (word joiner), U+2027.
    EXPECT_EQ(trimUnicodeSpace("\xE2\x81\xA0x\xE2\x80\xA7"), "\xE2\x81\xA0x\xE2\x80\xA7");
}

TEST(LetterCase, PairsCapitalsAndSmallLettersOfLatinGreekAndCyrillic) {
    const struct {
        char32_t capital, small;
    } pairs[] = {
        {U'A', U'a'},           {U'Z', U'z'},           {U'\u00C0', U'\u00E0'},  // À
        {U'\u00DE', U'\u00FE'}, {U'\u0178', U'\u00FF'},                          // Þ, Ÿ
        {U'\u0100', U'\u0101'}, {U'\u0139', U'\u013A'}, {U'\u0147', U'\u0148'},  // Ā, Ĺ, Ň
        {U'\u014A', U'\u014B'}, {U'\u017D', U'\u017E'},                          // Ŋ, Ž
        {U'\u0391', U'\u03B1'}, {U'\u03A3', U'\u03C3'}, {U'\u03A9', U'\u03C9'},  // Α, Σ, Ω
        {U'\u0401', U'\u0451'}, {U'\u0416', U'\u0436'}, {U'\u042F', U'\u044F'},  // Ё, Ж, Я
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(lowerCase(p.capital), p.small) << static_cast<long>(p.capital);
        EXPECT_EQ(upperCase(p.small), p.capital) << static_cast<long>(p.small);
        EXPECT_EQ(lowerCase(p.small), p.small);
        EXPECT_EQ(upperCase(p.capital), p.capital);
    }
    // No pair: ×, ÷, ß, ĸ, ŉ, long s, final sigma, digits, signs; and the Turkish
    // dotted capital is not lowered.
    for (char32_t c : {U'\u00D7', U'\u00F7', U'\u00DF', U'\u0138', U'\u0149', U'\u017F', U'\u03C2',
                       U'\u03A2', U'1', U'@', U'[', U'\u0130', U'\u20AC'}) {
        EXPECT_EQ(lowerCase(c), c) << static_cast<long>(c);
        EXPECT_EQ(upperCase(c), c) << static_cast<long>(c);
    }
    // Key texts have always shown dotless i as the dotted capital.
    EXPECT_EQ(upperCase(U'\u0131'), U'\u0130');
    EXPECT_EQ(asciiLowerCased("HTTP://Br\xC3\x9C"
                              "cke"),
              "http://br\xC3\x9C"
              "cke");
}
