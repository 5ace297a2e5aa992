#pragma once
// Real 7z archives for the tests, made with Debian's 7-Zip (`7zz`) at test time.

#include <filesystem>
#include <string>
#include <vector>

namespace vm::testing {

// Runs a program (looked up in PATH) with the arguments, output discarded, and waits for it.
// Its exit code, or -1 when it could not be started or did not exit normally.
int RunProgram(const std::vector<std::string>& arguments,
               const std::filesystem::path& workingFolder = {});

struct ArchiveItem {
    std::string name;  // UTF-8, "/" separated; a trailing "/" makes a folder
    std::string bytes; // file contents; for a link (`linkTarget` set) unused
    std::string linkTarget;
};

// Lays the items out in a scratch folder beside `archive` and stores them with `7zz a` and the
// extra switches (e.g. "-ms=on", "-mf=BCJ", "-pSecret"). Symbolic links are stored as links.
// True when 7zz succeeded.
bool MakeSevenZip(const std::filesystem::path& archive, const std::vector<ArchiveItem>& items,
                  const std::vector<std::string>& switches = {});

// Renames an entry inside the archive (`7zz rn`), which stores names that 7-Zip would never add
// itself: "../x", "C:\x", "a\..\..\x".
bool RenameSevenZipEntry(const std::filesystem::path& archive, const std::string& from,
                         const std::string& to);

// A 7z archive, written here byte by byte, of stored (Copy) files in one folder whose only CRC
// is the folder's: the form the format allows and 7-Zip never writes (it stores a CRC per file).
// Names are ASCII. With `damageAt` set, that byte of the stored data is changed after the CRC
// was taken.
std::string FolderCrcSevenZip(const std::vector<ArchiveItem>& files, long damageAt = -1);

} // namespace vm::testing
