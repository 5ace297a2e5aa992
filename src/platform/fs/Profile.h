#pragma once
// Profile (INI) files with the meanings of the Windows profile calls, kept as our own module
// because the file's layout must survive a write byte for byte.
//
// Reading: "[section]" lines open sections; "key=value" lines inside them are entries, split
// at the first "="; lines starting with ";" and lines without "=" are not entries. Section and
// key names match without regard to ASCII case; the first matching section is the one used,
// and the first matching key in it. Blanks around names and values are trimmed, and a value
// wrapped in a pair of double or single quotes loses them.
//
// Writing edits the one line in place, or adds "key=value" after the last entry of its section,
// or adds the section with the entry at the end of the file. Every other byte is kept; new
// lines use the file's own line end (CR LF for a new file). The file is replaced atomically.
// Texts are GBK and pass through unchanged.

#include <string>
#include <string_view>

namespace vm::fs {

// The value of the key, or `fallback` when the file, section or key is missing.
std::string ReadProfileString(std::string_view path, std::string_view section, std::string_view key,
                              std::string_view fallback = {});

// Sets the key, creating the file and section when needed. Fails without changing the file
// when it cannot be read or replaced, and for names or values that would break the file's
// structure (line ends in any of them; "=" or a leading ";" or "[" in a key; "]" in a section).
bool WriteProfileString(std::string_view path, std::string_view section, std::string_view key,
                        std::string_view value);

// Removes the key's line; true when the key is gone afterwards (also when it was never there).
bool DeleteProfileKey(std::string_view path, std::string_view section, std::string_view key);

} // namespace vm::fs
