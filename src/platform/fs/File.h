#pragma once
// File and folder operations on Windows path texts (GBK), with the meanings the logic expects
// of the Windows calls they stand in for. Every operation fails on a path that names no Linux
// file (another drive, a UNC share).
//
// Read-only: a file or folder whose permission bits grant no write at all is read-only, and
// nothing here changes it or, for a folder, its entries, even when the process runs as root
// (whom the kernel would let through). That keeps the Windows read-only attribute meaningful.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm::fs {

inline constexpr unsigned kAttributeReadOnly = 0x01;
inline constexpr unsigned kAttributeNormal = 0x80;

// A file or folder is present. A wildcard ("*", "?") in the last piece asks whether anything
// matches it, as a search for the first match would.
bool Exists(std::string_view path);
bool IsFolder(std::string_view path);
// Size in bytes of a file; -1 when it is missing or a folder.
std::int64_t FileSize(std::string_view path);

// Whole contents of a file; nullopt when it cannot be read.
std::optional<std::string> ReadFile(std::string_view path);
// Creates or truncates the file and writes the bytes in place.
bool WriteFile(std::string_view path, std::string_view bytes);
// Writes a temporary file beside the target, flushes it to disk and renames it over the
// target, so readers see either the old or the new contents, never a half-written file.
// An existing target keeps its permissions.
bool WriteFileAtomic(std::string_view path, std::string_view bytes);

// Deletes a file (never a folder; never a read-only file).
bool DeleteFile(std::string_view path);
// Copies a file with its permissions. The target appears whole or not at all.
bool CopyFile(std::string_view from, std::string_view to, bool failIfExists);
// Moves or renames a file or folder, replacing an existing file (never a read-only one or a
// folder).
bool MoveFile(std::string_view from, std::string_view to);

// Creates one folder; fails when it exists or its parent is missing.
bool CreateFolder(std::string_view path);
// Removes an empty folder.
bool RemoveFolder(std::string_view path);

// kAttributeReadOnly clears every write permission; an attribute set without it gives the
// owner write permission back. Other attribute bits have no meaning here.
bool SetAttributes(std::string_view path, unsigned attributes);

// Name (GBK, without folder) of the first entry of the pattern's folder that matches its last
// piece, "" when none does. "*" and "?" are wildcards ("?" is one character, also a two-byte
// one); ASCII letters match regardless of case. "." and ".." are never reported, nor names
// that GBK cannot spell. Entries are taken in byte order of their names, so the result does
// not depend on the directory's internal order.
std::string FindFirstFile(std::string_view pattern);

} // namespace vm::fs
