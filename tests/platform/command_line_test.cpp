// Splitting of Windows-style command lines: program name, blanks, quotes, backslashes.
#include "platform/command_line.h"

#include <gtest/gtest.h>

TEST(CommandLine, WindowsRules)
{
    struct Case {
        const char* cszLine;
        std::vector<std::string> vecArgs;
    } aCases[] = {
        {"", {}},
        {"  \t ", {}},
        {"prog", {"prog"}},
        {"\"C:\\Program Files\\R.exe\" -w 0000012C 00000130", {"C:\\Program Files\\R.exe", "-w", "0000012C", "00000130"}},
        // Backslashes in the program name mean nothing, even before its closing quote.
        {"\"C:\\dir\\\" a", {"C:\\dir\\", "a"}},
        {"p  a\t\tb ", {"p", "a", "b"}},
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p a\"b c\"d", {"p", "ab cd"}},
        {"p \"\"", {"p", ""}},
        {"p \"", {"p", ""}},
        {"p \\\\server\\share\\", {"p", "\\\\server\\share\\"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},        // 2n backslashes: n, the quote opens
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},          // 2n+1 backslashes: n and a quote
        {"p \\\"", {"p", "\""}},
        {"p \"a\\\\\"", {"p", "a\\"}},              // quoted path ending in a backslash
        {"p \"a\"\"b\"", {"p", "a\"b"}},            // doubled quote inside quotes
        {"p \"C:\\x y\\patch.zip\"", {"p", "C:\\x y\\patch.zip"}},
    };
    for (const Case& c : aCases) {
        std::vector<std::string> vecArgs{"left over"};
        Pf_ParseCommandLine(c.cszLine, &vecArgs);
        EXPECT_EQ(c.vecArgs, vecArgs) << "[" << c.cszLine << "]";
    }
}
