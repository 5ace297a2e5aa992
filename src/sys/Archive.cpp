#include "sys/Archive.h"

#include "platform/archive/ArchiveLibrary.h"
#include "platform/fs/File.h"
#include "platform/text/Gbk.h"
#include "sys/CallAddress.h"

namespace vm::sys {
namespace {

// Creates `path` with every missing parent: 0 created, 2 already there, 1 error. Stands in for
// CreateFolderPath of the process helpers until that one is in the tree.
int CreateFolderTree(std::string_view path) {
    const std::vector<std::string> pieces = text::Split(path, "\\");
    if (pieces.size() < 2 || text::CharCount(pieces[0]) != 2 || pieces[0].back() != ':')
        return 1;
    std::string current = pieces[0];
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        if (pieces[i].empty() || pieces[i] == "." || pieces[i] == "..")
            return 1;
        current += "\\" + pieces[i];
        if (fs::IsFolder(current)) {
            if (i + 1 == pieces.size())
                return 2;
            continue;
        }
        if (!fs::CreateFolder(current))
            return 1;
    }
    return 0;
}

} // namespace

bool LoadArchiveLibrary(ArchiveLibraryState& state, const std::string& image) {
    state.ready = state.library.LoadFromMemory(image);
    if (state.ready) {
        state.list7zAddress = state.library.GetExport("List7z");
        state.unpack7zAddress = state.library.GetExport("unpack7z");
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

bool UnpackArchive(const ArchiveLibraryState& state, std::string_view archivePath,
                   std::string_view destinationFolder) {
    // Only native code can be called here; a PE32 image's exports are 32-bit code.
    if (state.unpack7zAddress == 0 || state.library.Kind() != ImageKind::Elf)
        return false;
    if (!fs::Exists(archivePath) || fs::IsFolder(archivePath))
        return false;
    if (text::EndsWithChar(destinationFolder, '\\'))
        destinationFolder.remove_suffix(1);
    if (!fs::IsFolder(destinationFolder) && CreateFolderTree(destinationFolder) == 1)
        return false;
    const std::string archive(archivePath);
    const std::string folder(destinationFolder);
    return CallAddress<int, const char*, const char*, int>(state.unpack7zAddress, archive.c_str(),
                                                           folder.c_str(), 1) == 0;
}

bool UnpackArchive(std::string_view archivePath, std::string_view destinationFolder) {
    return UnpackArchive(ProgramArchiveLibrary(), archivePath, destinationFolder);
}

} // namespace vm::sys
