#pragma once
// The program inside the test process: the same objects and start-up as its main(), with the
// executable placed in a folder of the test's choosing. Kept apart from the Qt side of the test
// because it is compiled like the logic (GBK literals), whose headers it includes.

#include <memory>
#include <string>

namespace vm::e2e {

class ProgramDriver {
public:
    // `gbkExecutablePath`: where the program believes it lies (a Windows path text).
    explicit ProgramDriver(const std::string& gbkExecutablePath);
    ~ProgramDriver();

    // Everything before the message loop: objects, archive library, main window, start-up.
    void Start();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vm::e2e
