#pragma once
// The Qt backend: Qt 6 Widgets for windows and controls, Qt WebEngine for the browser.

#include <vector>

namespace vm::gui {

// Creates the QApplication and makes the calling thread the GUI thread. Call once, first
// thing in main(), with main's own argc and argv. When the process runs as root, Chromium's
// sandbox cannot start, so "--webEngineArgs --no-sandbox" is appended to the arguments the
// application sees (Qt passes only switches after --webEngineArgs on to Chromium). Calling it
// again discards every window and the exit state but keeps the QApplication (tests).
void UseQt(int& argc, char** argv);

// Ends the process with `exitCode` once the program's own orderly end is done (windows gone,
// exit clean-up run). The QApplication, and with it Qt WebEngine's browser threads, live to the
// end of the process, so exit() would run the static destructors of Qt and the C++ runtime
// while those threads still allocate; that corrupts the heap now and then. Pending deletions
// are carried out and the C streams flushed, then the process ends without them.
[[noreturn]] void EndQtProcess(int exitCode);

} // namespace vm::gui
