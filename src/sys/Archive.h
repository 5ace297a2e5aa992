#pragma once
// The program's archive library and the one operation through which it is used.
//
// Start-up loads the library image that the executable carries (a native shared object over
// libarchive, see docs/archives.md) with a MemoryLibrary and keeps the addresses of its two
// exports; UnpackArchive then calls "unpack7z" for the updates.

#include "sys/MemoryLibrary.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace vm::sys {

// Program-wide state of the archive library; not loaded and all zero until loaded.
struct ArchiveLibraryState {
    MemoryLibrary library;
    bool ready = false;
    std::uintptr_t list7zAddress = 0;
    std::uintptr_t unpack7zAddress = 0;
    // "unpack7zChecked": unpack7z with a look at the extracted entries before they move in.
    std::uintptr_t unpack7zCheckedAddress = 0;
};

// Loads `image` into `state.library` and, only when that succeeds, looks up "List7z", then
// "unpack7z" and "unpack7zChecked". Gives state.ready. Failures are silent: the addresses stay 0.
bool LoadArchiveLibrary(ArchiveLibraryState& state, const std::string& image);
// The same with the image built into the executable.
bool LoadBuiltinArchiveLibrary(ArchiveLibraryState& state);

// The program's one instance. Start-up loads it; the exit clean-up unloads it first of all
// (state.library.Unload()), before the other program-wide objects go.
ArchiveLibraryState& ProgramArchiveLibrary();

// Extracts the 7z archive at `archivePath` into `destinationFolder` (Windows path texts, GBK),
// creating the folder with its missing parents first; one trailing "\" is ignored. True when
// "unpack7z" reported success. False without the library, for a missing archive and for a
// folder that cannot be created.
bool UnpackArchive(const ArchiveLibraryState& state, std::string_view archivePath,
                   std::string_view destinationFolder);
// The same with ProgramArchiveLibrary().
bool UnpackArchive(std::string_view archivePath, std::string_view destinationFolder);

// Looks at the extracted entries in their staging folder (a Windows path text ending in "")
// before anything in the destination changes; false refuses the whole archive. It may change
// the staged files, not the folder itself.
using StagedCheck = std::function<bool(const std::string& stagedFolder)>;

// UnpackArchive that moves the entries in only when `accept` approves of them: an update is
// judged by what it would install, and a bad one never replaces a good file. False, with the
// destination untouched, when `accept` refuses.
bool UnpackArchiveChecked(const ArchiveLibraryState& state, std::string_view archivePath,
                          std::string_view destinationFolder, const StagedCheck& accept);
bool UnpackArchiveChecked(std::string_view archivePath, std::string_view destinationFolder,
                          const StagedCheck& accept);

} // namespace vm::sys
