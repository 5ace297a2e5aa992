#include "sys/Archive.h"

#include "platform/archive/ArchiveLibrary.h"
#include "platform/fs/File.h"
#include "platform/text/Gbk.h"
#include "sys/CallAddress.h"
#include "sys/Process.h"

namespace vm::sys {

bool LoadArchiveLibrary(ArchiveLibraryState& state, const std::string& image) {
    state.ready = state.library.LoadFromMemory(image);
    if (state.ready) {
        state.list7zAddress = state.library.GetExport("List7z");
        state.unpack7zAddress = state.library.GetExport("unpack7z");
        state.unpack7zCheckedAddress = state.library.GetExport("unpack7zChecked");
    }
    return state.ready;
}

bool LoadBuiltinArchiveLibrary(ArchiveLibraryState& state) {
    return LoadArchiveLibrary(state, std::string(archive::BuiltinArchiveLibraryImage()));
}

ArchiveLibraryState& ProgramArchiveLibrary() {
    static ArchiveLibraryState state;
    return state;
}

namespace {

// The steps before the call: the archive and the destination, which is created when missing.
bool PrepareUnpack(std::uintptr_t address, const ArchiveLibraryState& state,
                   std::string_view archivePath, std::string_view& destinationFolder) {
    // Only native code can be called here; a PE32 image's exports are 32-bit code.
    if (address == 0 || state.library.Kind() != ImageKind::Elf)
        return false;
    if (!fs::Exists(archivePath) || fs::IsFolder(archivePath))
        return false;
    if (text::EndsWithChar(destinationFolder, '\\'))
        destinationFolder.remove_suffix(1);
    return fs::IsFolder(destinationFolder) || CreateFolderPath(destinationFolder) != 1;
}

using CheckFunction = int (*)(const char*, void*);

// Called by the library with the staging folder; no exception may cross back into it.
int RunStagedCheck(const char* stagedFolder, void* context) {
    try {
        std::string folder = stagedFolder != nullptr ? stagedFolder : "";
        if (!text::EndsWithChar(folder, '\\'))
            folder += '\\';
        return (*static_cast<const StagedCheck*>(context))(folder) ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

} // namespace

bool UnpackArchive(const ArchiveLibraryState& state, std::string_view archivePath,
                   std::string_view destinationFolder) {
    if (!PrepareUnpack(state.unpack7zAddress, state, archivePath, destinationFolder))
        return false;
    const std::string archive(archivePath);
    const std::string folder(destinationFolder);
    return CallAddress<int, const char*, const char*, int>(state.unpack7zAddress, archive.c_str(),
                                                           folder.c_str(), 1) == 0;
}

bool UnpackArchiveChecked(const ArchiveLibraryState& state, std::string_view archivePath,
                          std::string_view destinationFolder, const StagedCheck& accept) {
    if (!accept)
        return UnpackArchive(state, archivePath, destinationFolder);
    if (!PrepareUnpack(state.unpack7zCheckedAddress, state, archivePath, destinationFolder))
        return false;
    const std::string archive(archivePath);
    const std::string folder(destinationFolder);
    void* context = const_cast<StagedCheck*>(&accept);
    return CallAddress<int, const char*, const char*, int, CheckFunction, void*>(
               state.unpack7zCheckedAddress, archive.c_str(), folder.c_str(), 1, &RunStagedCheck,
               context) == 0;
}

bool UnpackArchiveChecked(std::string_view archivePath, std::string_view destinationFolder,
                          const StagedCheck& accept) {
    return UnpackArchiveChecked(ProgramArchiveLibrary(), archivePath, destinationFolder, accept);
}

bool UnpackArchive(std::string_view archivePath, std::string_view destinationFolder) {
    return UnpackArchive(ProgramArchiveLibrary(), archivePath, destinationFolder);
}

} // namespace vm::sys
