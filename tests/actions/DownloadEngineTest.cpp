#include "actions/DownloadEngine.h"

#include <gtest/gtest.h>

namespace vm::actions {
namespace {

TEST(DownloadEngine, CommandLine) {
    struct Case {
        std::string address, target;
        long long number;
        std::string expected;
    };
    const std::string folder = "Z:\\home\\a b\\vm\\";
    const std::vector<Case> cases = {
        {"http://x.test/a.7z", "Z:\\home\\a b\\vm\\资源目录\\网络\\a.7z", 3,
         "Z:\\home\\a b\\vm\\up.exe http://x.test/a.7z "
         "Z:\\home\\a\\[k]b\\vm\\资源目录\\网络\\a.7z 3"},
        // The address is passed unchanged, blanks and all; two blanks give two escapes.
        {"kp,12 34", "Z:\\t  x.zip", -1, folder + "up.exe kp,12 34 Z:\\t\\[k]\\[k]x.zip -1"},
        {"", "", 0, folder + "up.exe   0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EngineCommandLine(folder, c.address, c.target, c.number), c.expected);
    EXPECT_EQ(EngineFilePath(folder), folder + "up.exe");
}

} // namespace
} // namespace vm::actions
