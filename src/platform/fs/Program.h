#pragma once
// Whether a file can be started as a program here, and the permission bit that lets it. The
// Windows file model has no execute bit: a file unpacked from an archive made on Windows has
// none, and a ".exe" may be a program for another machine altogether.

#include <string_view>

namespace vm::fs {

enum class ProgramKind {
    Missing, // no regular file of that name
    Native,  // an ELF executable or shared object of this machine's architecture
    Script,  // a "#!" line naming an interpreter that exists and can be run
    Foreign, // anything else: a PE image, another architecture, a page of text
};

// Looks at the first bytes of the file (a Windows path text); the permission bits play no part.
ProgramKind ProgramKindOf(std::string_view path);
inline bool IsRunnableProgram(std::string_view path) {
    const ProgramKind kind = ProgramKindOf(path);
    return kind == ProgramKind::Native || kind == ProgramKind::Script;
}

// Whether the owner may run the file now.
bool IsExecutable(std::string_view path);
// Lets everyone who may read the file also run it. False for a missing file or a link.
bool MakeExecutable(std::string_view path);

} // namespace vm::fs
