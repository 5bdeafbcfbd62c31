#include <gtest/gtest.h>

#include <string>

#include "QuoteExcerpt.h"

namespace {

struct QuoteCase {
    std::string text;
    std::size_t limit;
    std::string quoted;
};

// A quote keeps well-formed UTF-8 whole, puts '?' for each control character and each stray byte, and is cut before
// a character, never inside one.
TEST(QuoteExcerpt, KeepsCharactersReplacesControlsAndStrayBytesAndCutsBetweenCharacters) {
    const QuoteCase cases[] = {
        {"plain", 80, "\"plain\""},
        {"Am\xC3\xA9lie", 80, "\"Am\xC3\xA9lie\""},   // é: two bytes, kept
        {"\xE2\x82\xAC 5", 80, "\"\xE2\x82\xAC 5\""}, // €: three bytes, kept
        {"a\tb\nc\rd\x7F", 80, "\"a?b?c?d?\""},       // C0 with TAB, LF, CR, and DEL
        {"x\xC2\x85y\xE2\x80\xA8z", 80, "\"x?y?z\""}, // C1 NEL and U+2028: one '?' each
        {"bad\xE9\xFF.", 80, "\"bad??.\""},           // Latin-1 é and 0xFF: not UTF-8
        {"\xC3", 80, "\"?\""},                        // a character cut short by the end
        {"abcdef", 4, "\"abcd...\""},                 // cut at the limit
        {"ab\xC3\xA9z", 3, "\"ab...\""},              // é would straddle the limit: cut before it
        {"ab\xC3\xA9z", 4, "\"ab\xC3\xA9...\""},      // é fits
        {"abcd", 4, "\"abcd\""},                      // exactly the limit: not cut
    };
    for (const QuoteCase& c : cases) {
        EXPECT_EQ(quillory::QuoteExcerpt(c.text, c.limit), c.quoted) << c.text;
    }
}

} // namespace
