// command_line_tests.cpp - splitting command lines with the quoting rules
// of Windows programs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/command_line.h"

namespace {

std::vector<std::string> Split(const char* text)
{
    int32_t argc = -1, charCount = -1;
    SplitCommandLine(text, nullptr, nullptr, &argc, &charCount);
    std::vector<char*> argv(argc + 1, nullptr);
    // Garbage in the character area shows any byte the split misses.
    std::vector<char> chars(charCount + 16, '#');
    int32_t filledArgc = -1, filledCount = -1;
    SplitCommandLine(text, argv.data(), chars.data(), &filledArgc, &filledCount);
    EXPECT_EQ(argc, filledArgc) << text;
    EXPECT_EQ(charCount, filledCount) << text;
    EXPECT_EQ('#', chars[charCount]) << text;  // nothing written past the count
    EXPECT_EQ(nullptr, argv[argc]) << text;
    std::vector<std::string> arguments;
    int32_t bytes = 0;
    for (int32_t i = 0; i < argc; i++) {
        arguments.push_back(argv[i]);
        bytes += (int32_t)arguments.back().size() + 1;
    }
    EXPECT_EQ(charCount, bytes) << text;
    return arguments;
}

TEST(SplitCommandLine, QuotingRules)
{
    typedef std::vector<std::string> Args;
    const struct {
        const char* text;
        Args expected;
    } cases[] = {
        {"tool.exe", {"tool.exe"}},
        {"", {""}},
        {"tool m.swf", {"tool", "m.swf"}},
        {"tool a.swf b.swf", {"tool", "a.swf", "b.swf"}},
        {"  tool\t  a  \t", {"", "tool", "a"}},
        {"\"C:\\Program Files\\tool.exe\" \"D:\\My Movies\\m.swf\"",
         {"C:\\Program Files\\tool.exe", "D:\\My Movies\\m.swf"}},
        {"\"C:\\Program Files\\tool.exe\"", {"C:\\Program Files\\tool.exe"}},
        {"\"unterminated name", {"unterminated name"}},
        {"to\"ol x", {"to\"ol", "x"}},                      // quotes in a plain name stay
        {"C:\\dir\\tool.exe x", {"C:\\dir\\tool.exe", "x"}},  // no backslash rule in the name
        {"t a\\\\\\\"b", {"t", "a\\\"b"}},
        {"t a\\\\\\\\\"b c\"", {"t", "a\\\\b c"}},
        {"t C:\\dir\\", {"t", "C:\\dir\\"}},
        {"t \\\\server\\share", {"t", "\\\\server\\share"}},
        {"t \"a\"\"b\"", {"t", "a\"b"}},
        {"t \"a b\"\"c d\"", {"t", "a b\"c", "d"}},
        {"t \"abc def", {"t", "abc def"}},
        {"t \"\" x", {"t", "", "x"}},
        {"t \\\"quoted\\\"", {"t", "\"quoted\""}},
        {"t a\"b c\"d e", {"t", "ab cd", "e"}},
        // UTF-8 (the program's code page): bytes of 0x80 and above are
        // never blanks, quotes or backslashes, whatever the sequence.
        {"t caf\xc3\xa9.swf", {"t", "caf\xc3\xa9.swf"}},
        {"t \xc2\xa0" "a\xc2\x85" "b\xe3\x80\x80" "c",
         {"t", "\xc2\xa0" "a\xc2\x85" "b\xe3\x80\x80" "c"}},
        {"\"C:\\\xe6\x98\xa0\xe7\x94\xbb\\t.exe\" \"\xf0\x9f\x8e\xac m.swf\"\xff",
         {"C:\\\xe6\x98\xa0\xe7\x94\xbb\\t.exe", "\xf0\x9f\x8e\xac m.swf\xff"}},
        {"\xc3\xa9t\xc3\xa9.exe \xa0\x80", {"\xc3\xa9t\xc3\xa9.exe", "\xa0\x80"}},
    };
    for (const auto& test : cases)
        EXPECT_EQ(test.expected, Split(test.text)) << test.text;
}

}  // namespace
