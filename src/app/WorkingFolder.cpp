#include "app/WorkingFolder.h"

#include "platform/fs/File.h"
#include "platform/text/Gbk.h"

#include <vector>

namespace vm::app {

std::string_view BuiltinAsset(std::string_view name); // generated from assets/builtin

namespace {

constexpr const char* kPictures[] = {"down.gif", "see.gif", "look.gif"};

} // namespace

std::string_view BuiltinFile(std::string_view name) {
    return BuiltinAsset(name);
}

bool IsWritableFolder(std::string_view path) {
    if (text::Trim(path).empty())
        return false;
    const std::string probe = std::string(path) + "\\TEMP.TMP";
    fs::WriteFile(probe, "\x02\x03\x04");
    const bool written = fs::Exists(probe);
    fs::DeleteFile(probe);
    return written;
}

bool CreateFolderTree(std::string_view path) {
    std::string folder = text::Trim(path);
    if (folder.empty())
        return false;
    if (text::EndsWithChar(folder, '\\'))
        folder.pop_back();
    if (fs::IsFolder(folder))
        return true;

    std::string current;
    std::string firstCreated;
    for (const std::string& piece : text::Split(folder, "\\")) {
        current = current.empty() ? piece : current + "\\" + piece;
        if (piece.empty() || fs::IsFolder(current))
            continue;
        if (!fs::CreateFolder(current)) {
            if (!firstCreated.empty())
                fs::RemoveFolder(firstCreated);
            return false;
        }
        if (firstCreated.empty())
            firstCreated = current;
    }
    return fs::IsFolder(folder);
}

void WriteBuiltinPictures(std::string_view programFolder) {
    for (const char* name : kPictures) {
        const std::string file = std::string(programFolder) + "set\\dt\\" + name;
        if (!fs::Exists(file))
            fs::WriteFile(file, BuiltinFile(name));
    }
}

std::string WriteListPage(std::string_view programFolder) {
    const std::string file = std::string(programFolder) + "set\\dt\\list.htm";
    fs::WriteFile(file, BuiltinFile("list.htm"));
    return file;
}

} // namespace vm::app
