#pragma once
// Replaces xdg-open for the whole test process with a script that records each target it is
// given, one line each, and points the session bus at an address where no bus listens, so
// nothing real opens and no desktop service is reached.

#include "platform/kernel/Thread.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace vm::test {

class OpenerRecorder {
public:
    static OpenerRecorder& Instance() {
        static OpenerRecorder recorder;
        return recorder;
    }

    const std::filesystem::path& folder() const { return folder_; }

    void Clear() { std::filesystem::remove(log_); }

    std::vector<std::string> Lines() const {
        std::ifstream in(log_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    // The recorded targets once `count` have arrived (within 5 s), else what there is.
    std::vector<std::string> WaitFor(std::size_t count) const {
        kernel::WaitDispatching(5000, [&] { return Lines().size() >= count; });
        return Lines();
    }

private:
    OpenerRecorder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vm-shell-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        folder_ = pattern;
        log_ = folder_ / "opened.txt";
        const std::filesystem::path script = folder_ / "opener";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << log_.string() << "'\n";
        std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        ::setenv("VM_OPENER", script.c_str(), 1);
        const std::string noBus = "unix:abstract=vm-test-no-bus-" + std::to_string(::getpid());
        ::setenv("DBUS_SESSION_BUS_ADDRESS", noBus.c_str(), 1);
    }
    ~OpenerRecorder() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    std::filesystem::path folder_;
    std::filesystem::path log_;
};

} // namespace vm::test
