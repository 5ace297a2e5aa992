// Wires the program together: the Qt backend for the windows, then the entry sequence.

#include "app/Program.h"
#include "platform/gui/qt/QtBackend.h"

int main(int argc, char** argv) {
    vm::gui::UseQt(argc, argv);
    int exitCode = 0;
    {
        vm::app::Program program;
        exitCode = program.Run();
    }
    vm::gui::EndQtProcess(exitCode);
}
