// libFuzzer target: the program's archive library on crafted archives. Each input is written
// as an archive and unpacked into a fresh folder; whatever the bytes, nothing may land outside
// that folder, a refused archive leaves it empty, and no staging folder stays behind.

#include "platform/archive/library/SevenZipLayout.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

extern "C" int unpack7z(const char* archivePath, const char* folderPath, int mode);

namespace {

namespace stdfs = std::filesystem;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::string Windows(const stdfs::path& path) {
    std::string text = "Z:" + path.string();
    for (char& c : text)
        if (c == '/')
            c = '\\';
    return text;
}

const stdfs::path& Root() {
    static const stdfs::path root = [] {
        const char* tmp = std::getenv("TMPDIR");
        stdfs::path path = stdfs::path(tmp != nullptr ? tmp : "/tmp") /
                           ("vm-unpack-fuzz-" + std::to_string(::getpid()));
        stdfs::create_directories(path);
        return path;
    }();
    return root;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const stdfs::path archive = Root() / "input.7z";
    const stdfs::path box = Root() / "box";
    const stdfs::path destination = box / "dest";
    stdfs::remove_all(box);
    stdfs::create_directories(destination);
    std::ofstream(archive, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    const int result = unpack7z(Windows(archive).c_str(), Windows(destination).c_str(), 1);
    Require(result >= 0 && result <= 6);
    // Only the destination is in the box: the staging folder went, nothing climbed out.
    for (const auto& entry : stdfs::directory_iterator(box))
        Require(entry.path() == destination);
    if (result != 0)
        Require(stdfs::is_empty(destination));
    for (const auto& entry : stdfs::recursive_directory_iterator(destination))
        Require(!entry.is_symlink() && (entry.is_regular_file() || entry.is_directory()));
    stdfs::remove_all(box);
    return 0;
}
