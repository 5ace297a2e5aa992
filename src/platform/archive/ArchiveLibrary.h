#pragma once
// The program's own archive library, built from library/ as a shared object and carried inside
// the executable as bytes, so that no library file needs to lie beside the program. Load it
// with SharedObject::Load (Module.h); its exports are described in docs/archives.md.

#include <string_view>

namespace vm::archive {

// The image of the archive library (an ELF shared object).
std::string_view BuiltinArchiveLibraryImage();

} // namespace vm::archive
