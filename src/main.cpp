// Wires the program together: the Qt backend for the windows, then the entry sequence.

#include "app/Program.h"
#include "platform/gui/qt/QtBackend.h"

// The program's version where the launcher can read it without starting the program: it
// decides whether a package's program is newer than one an update put in the user's folder.
[[gnu::used]] static const char kVersionMark[] = "VELLUMARK-PROGRAM-VERSION " VM_PROGRAM_VERSION;

int main(int argc, char** argv) {
    vm::gui::UseQt(argc, argv);
    int exitCode = 0;
    {
        vm::app::Program program;
        exitCode = program.Run();
    }
    vm::gui::EndQtProcess(exitCode);
}
