// Names reach the console as text, never as orders to the terminal.
#include <gtest/gtest.h>

#include "workflow/workflow.hpp"

namespace tintsmith {
namespace {

// Regression: a photo's name with escape sequences retitled the terminal and
// cleared it, a line break in one forged a line, a carriage return overwrote one.
TEST(Console, ControlCharactersAndInvalidUtf8AreShownEscaped) {
    const struct {
        const char* raw;
        const char* shown;
    } rows[] = {
        {"Hochzeit am Strand \xc3\xa9.png", "Hochzeit am Strand \xc3\xa9.png"},  // UTF-8 kept
        {"a\x1b]0;title\x07.jpg", "a\\e]0;title\\x07.jpg"},
        {"a.jpg\nWrote the LUT", "a.jpg\\nWrote the LUT"},
        {"a\rb\tc\x7f", "a\\rb\\tc\\x7f"},
        {"\x9b"
         "2J",
         "\\x9b2J"},  // a C1 control as a lone byte
        {"\xc2\x9b"
         "2J",
         "\\u009b2J"},                                       // ...and as UTF-8
        {"x\xe2\x80\xaegpj.exe", "x\\u202egpj.exe"},         // right-to-left override
        {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",  // overlong, surrogate, past U+10FFFF,
                                                             // cut
         "\\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xe2\\x82"},
    };
    for (const auto& row : rows) EXPECT_EQ(consoleSafe(row.raw), row.shown) << row.raw;
}

}  // namespace
}  // namespace tintsmith
