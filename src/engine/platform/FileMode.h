#pragma once
// Unix permission bits the Windows file model has no word for.

#include <string_view>

namespace vm::engine {

// Lets everyone who may read the file (a Windows path text, GBK) also run it. An archive made
// on Windows stores no modes, and a program unpacked from it could not be started otherwise.
bool MakeExecutable(std::string_view gbkPath);

} // namespace vm::engine
