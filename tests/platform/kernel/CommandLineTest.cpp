#include "platform/kernel/Process.h"

#include <gtest/gtest.h>

namespace vm::kernel {
namespace {

using Pieces = std::vector<std::string>;

struct SplitCase {
    std::string line;
    Pieces expected;
};

// GBK: "\x95\x5C" is one character whose trail byte is the backslash; D6 D0 CE C4 is "中文".
const std::string kTrailBackslash = "\x95\x5C";
const std::string kChinese = "\xD6\xD0\xCE\xC4";

TEST(SplitCommandLine, WindowsRules) {
    const std::vector<SplitCase> cases = {
        {"", {}},
        {"prog", {"prog"}},
        {"prog a b", {"prog", "a", "b"}},
        {"prog   a\t b  ", {"prog", "a", "b"}},
        // The program token: quoted up to the next quote, or up to the first blank.
        {"\"C:\\Program Files\\x.exe\" a", {"C:\\Program Files\\x.exe", "a"}},
        {"C:\\Program Files\\x.exe a", {"C:\\Program", "Files\\x.exe", "a"}},
        {"\"prog x\"y z", {"prog x", "y", "z"}},
        {"\"never closed a", {"never closed a"}},
        {" p a", {"", "p", "a"}},
        // Backslashes in the program token are never escapes.
        {"\"C:\\dir\\\\\" a", {"C:\\dir\\\\", "a"}},
        // Arguments.
        {"p \"a b\" c", {"p", "a b", "c"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p a\\\\\\b", {"p", "a\\\\\\b"}},
        {"p a\\\\\\\"b c", {"p", "a\\\"b", "c"}},
        {"p a\\\\\\\\\"b c\" d", {"p", "a\\\\b c", "d"}},
        {"p \"a\\\"b\"", {"p", "a\"b"}},
        {"p a\\", {"p", "a\\"}},
        {"p \"C:\\dir\\\\\"", {"p", "C:\\dir\\"}},
        // Two quotes inside quotes give a literal quote and close the quoted part.
        {"p a\"b\"\" c d", {"p", "ab\"", "c", "d"}},
        {"p \"\"\"a\"\"\"", {"p", "\"a\""}},
        {"p \"a\"\"b c\" d", {"p", "a\"b", "c d"}},
        // A two-byte character ending in 0x5C does not escape the quote after it.
        {"p " + kTrailBackslash + "\" x\"", {"p", kTrailBackslash + " x"}},
        {"p \"" + kChinese + " b\"", {"p", kChinese + " b"}},
        {"\"Z:\\" + kTrailBackslash + "\\up.exe\" http://a/b",
         {"Z:\\" + kTrailBackslash + "\\up.exe", "http://a/b"}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "[" << c.line << "]";
}

} // namespace
} // namespace vm::kernel
