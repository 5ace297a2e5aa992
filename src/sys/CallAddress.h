#pragma once
// Calls code found by address (a library export) as a function of the stated type.

#include <cstdint>

namespace vm::sys {

// The caller states the result and argument types the code was written for; calling it with
// any other type is undefined, exactly as a mismatched call through a function pointer.
template <typename Result, typename... Arguments>
Result CallAddress(std::uintptr_t address, Arguments... arguments) {
    using Function = Result (*)(Arguments...);
    return reinterpret_cast<Function>(address)(arguments...);
}

} // namespace vm::sys
