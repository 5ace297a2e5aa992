// libFuzzer target: profile files as a damaged or hostile set\Start.ini may hold them. Reading
// must not fail on any bytes, and a key written into such a file must read back.

#include "platform/fs/Profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// One file per process, below the temporary folder.
struct ProfileFile {
    std::string linuxPath;
    std::string windowsPath;
};

const ProfileFile& TheFile() {
    static const ProfileFile file = [] {
        const char* tmp = std::getenv("TMPDIR");
        ProfileFile f;
        f.linuxPath = std::string(tmp != nullptr ? tmp : "/tmp") + "/vm-profile-fuzz-" +
                      std::to_string(::getpid()) + ".ini";
        f.windowsPath = "Z:" + f.linuxPath;
        for (char& c : f.windowsPath)
            if (c == '/')
                c = '\\';
        return f;
    }();
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& path = TheFile().windowsPath;
    std::ofstream(TheFile().linuxPath, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    for (const std::string_view section : {"主窗口", "endpoints", "", "["})
        for (const std::string_view key : {"下载方式", "forum", "", "a"})
            vm::fs::ReadProfileString(path, section, key, "fallback");

    // A plain value under a plain key, written into whatever the file holds.
    std::string value;
    for (const char c : bytes.substr(0, 16))
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
            value += c;
    if (vm::fs::WriteProfileString(path, "主窗口", "数据库版本", value))
        Require(vm::fs::ReadProfileString(path, "主窗口", "数据库版本", "-") == value);
    std::remove(TheFile().linuxPath.c_str());
    return 0;
}
