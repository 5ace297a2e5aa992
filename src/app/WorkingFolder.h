#pragma once
// The folders beside the executable and the files the program carries inside itself.

#include <string>
#include <string_view>

namespace vm::app {

// True when a file can be created in `path` (a Windows path text without trailing "\").
bool IsWritableFolder(std::string_view path);

// Creates `path` with every missing parent; on failure the first folder this call created is
// removed again (only if it is still empty).
bool CreateFolderTree(std::string_view path);

// The built-in pictures, written only where the file is missing (an existing one is kept even if
// damaged), in the order down, see, look.
void WriteBuiltinPictures(std::string_view programFolder);

// The list page, always replacing the file. Returns its full path.
std::string WriteListPage(std::string_view programFolder);

// The built-in bytes of "down.gif", "see.gif", "look.gif" and "list.htm"; empty when unknown.
std::string_view BuiltinFile(std::string_view name);

} // namespace vm::app
