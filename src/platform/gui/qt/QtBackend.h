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

} // namespace vm::gui
