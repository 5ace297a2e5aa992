#pragma once
// All HTTP transfers of the process at once, for the program's end. Apart from the engine's
// header so that the logic (built for GBK texts) reaches it without <chrono>.

namespace vm::http {

// Every transfer in flight fails with Cancelled within microseconds, and every one made later
// fails the same way at its first wait, so that no thread stays inside a request however long
// its time limits. ResumeTransfers() lets transfers run again (a program started anew in the
// same process). Thread-safe.
void StopAllTransfers();
void ResumeTransfers();
bool TransfersStopped();

} // namespace vm::http
