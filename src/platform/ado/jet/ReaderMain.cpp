// The Access reader's own program. The jet provider starts it, with the file in its
// environment, to read an .mdb in a process of its own; run any other way it does nothing.

#include "platform/ado/jet/JetReader.h"

#include <cstdio>

int main() {
    vm::ado::jet::ServeAsReaderIfStarted(); // does not return when started as the reader
    std::fprintf(stderr, "%s: started by the program's Access reader only\n",
                 vm::ado::jet::kReaderProgram);
    return 2;
}
