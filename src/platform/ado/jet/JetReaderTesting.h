#pragma once
// A seam for tests of the reading child: make it fail in the ways a damaged file could make
// libmdb fail, and shorten how long a silent child is waited for.

namespace vm::ado::jet {

enum class ReaderFault { None, Crash, Exit, Hang };

void SetReaderFaultForTesting(ReaderFault fault, int silenceLimitMs = 20000);

} // namespace vm::ado::jet
