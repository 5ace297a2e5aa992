// libFuzzer target: the Windows command-line split that every started process goes through;
// the engine's command line carries a catalogue's titles.

#include "platform/kernel/Process.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::size_t total = 0;
    for (const std::string& piece : vm::kernel::SplitCommandLine(line))
        total += piece.size();
    // Quotes and escapes only ever take bytes away.
    Require(total <= line.size());
    return 0;
}
