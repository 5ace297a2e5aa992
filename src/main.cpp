// Wires the program together: the Qt backend for the windows, then the entry sequence.

#include "app/Program.h"
#include "platform/gui/qt/QtBackend.h"

int main(int argc, char** argv) {
    vm::gui::UseQt(argc, argv);
    vm::app::Program program;
    return program.Run();
}
