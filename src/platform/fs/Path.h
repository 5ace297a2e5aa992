#pragma once
// Windows path texts (GBK) and their Linux counterparts. Drive Z: is the Linux root, so
// "Z:\home\a\" is "/home/a/". Other drives and UNC paths name nothing here: they map to ""
// and every file operation on them fails.

#include <string>
#include <string_view>

namespace vm::fs {

// Windows path text (GBK) to a UTF-8 Linux path. "\" and "/" both separate; a path without
// a drive is kept relative, one starting with "\" is rooted at Z:. Empty when the text names
// another drive, a UNC share, or holds bytes that are not GBK.
std::string ToLinuxPath(std::string_view windowsPath);

// UTF-8 Linux path to a Windows path text (GBK): absolute paths gain "Z:". Characters that
// GBK lacks become "?", so such a name cannot be mapped back.
std::string FromLinuxPath(std::string_view linuxPath);

// Text up to and including the last "\" ("" when there is none).
std::string FolderOf(std::string_view path);
// Text after the last "\" (the whole text when there is none).
std::string FileNameOf(std::string_view path);
// The extension with its dot, from the last "." of the file name; "" when there is none.
std::string ExtensionOf(std::string_view path);

// The running executable as a Windows path text.
std::string ExecutablePath();
// The folder for temporary files ($TMPDIR, else /tmp) as a Windows path text ending in "\".
std::string TempFolder();

} // namespace vm::fs
