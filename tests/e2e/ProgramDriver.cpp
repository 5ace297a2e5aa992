#include "e2e/ProgramDriver.h"

#include "app/Program.h"

namespace vm::e2e {

struct ProgramDriver::Impl {
    explicit Impl(const std::string& path) : program(app::Program::Options{path}) {}
    app::Program program;
};

ProgramDriver::ProgramDriver(const std::string& gbkExecutablePath)
    : impl_(std::make_unique<Impl>(gbkExecutablePath)) {}

ProgramDriver::~ProgramDriver() = default;

void ProgramDriver::Start() {
    impl_->program.Start();
}

} // namespace vm::e2e
