#include "support/SevenZip.h"

#include "support/TempFolder.h"

#include <cstdint>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vm::testing {
namespace {

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) != 0 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

void PutLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(value >> (8 * i));
}

// The 7z NUMBER: as many leading one bits in the first byte as bytes follow.
void PutNumber(std::string& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        if (value < (std::uint64_t{1} << (7 * (i + 1)))) {
            const auto lead = static_cast<std::uint8_t>(0xFF00u >> i);
            out += static_cast<char>(lead | static_cast<std::uint8_t>(value >> (8 * i)));
            PutLittleEndian(out, value, i);
            return;
        }
    }
    out += '\xFF';
    PutLittleEndian(out, value, 8);
}

} // namespace

std::string FolderCrcSevenZip(const std::vector<ArchiveItem>& files, long damageAt) {
    std::string data;
    for (const ArchiveItem& file : files)
        data += file.bytes;
    std::string header = "\x01\x04"; // header, main streams
    header += "\x06";                // pack info: at 0, one stream
    PutNumber(header, 0);
    PutNumber(header, 1);
    header += "\x09";
    PutNumber(header, data.size());
    header += '\0';
    header += std::string("\x07\x0B", 2); // one folder of one Copy coder
    PutNumber(header, 1);
    header += std::string("\x00\x01\x01\x00", 4);
    header += "\x0C";
    PutNumber(header, data.size());
    header += "\x0A\x01"; // the folder's CRC
    PutLittleEndian(header, Crc32(data), 4);
    header += '\0';
    header += "\x08\x0D"; // the files' streams, without CRCs
    PutNumber(header, files.size());
    header += "\x09";
    for (std::size_t i = 0; i + 1 < files.size(); ++i)
        PutNumber(header, files[i].bytes.size());
    header += std::string("\x00\x00", 2);
    header += "\x05"; // files: their names
    PutNumber(header, files.size());
    std::string names(1, '\0');
    for (const ArchiveItem& file : files) {
        for (const char c : file.name)
            names += std::string{c, '\0'};
        names += std::string(2, '\0');
    }
    header += "\x11";
    PutNumber(header, names.size());
    header += names;
    header += std::string("\x00\x00", 2);

    if (damageAt >= 0 && static_cast<std::size_t>(damageAt) < data.size())
        data[damageAt] = static_cast<char>(data[damageAt] ^ 0x5A);
    std::string start;
    PutLittleEndian(start, data.size(), 8);
    PutLittleEndian(start, header.size(), 8);
    PutLittleEndian(start, Crc32(header), 4);
    std::string archive("7z\xBC\xAF\x27\x1C\x00\x04", 8);
    PutLittleEndian(archive, Crc32(start), 4);
    return archive + start + data + header;
}

int RunProgram(const std::vector<std::string>& arguments,
               const std::filesystem::path& workingFolder) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MakeSevenZip(const std::filesystem::path& archive, const std::vector<ArchiveItem>& items,
                  const std::vector<std::string>& switches) {
    const TempFolder scratch("vm-7z-items");
    for (const ArchiveItem& item : items) {
        const std::filesystem::path path = scratch.path() / std::filesystem::u8path(item.name);
        if (!item.name.empty() && item.name.back() == '/') {
            std::filesystem::create_directories(path);
            continue;
        }
        std::filesystem::create_directories(path.parent_path());
        if (!item.linkTarget.empty())
            std::filesystem::create_symlink(item.linkTarget, path);
        else
            WriteBytes(path, item.bytes);
    }
    std::filesystem::remove(archive);
    std::vector<std::string> arguments = {"7zz", "a", "-snl", "-bd", "-y"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    arguments.push_back(std::filesystem::absolute(archive).string());
    arguments.push_back(".");
    return RunProgram(arguments, scratch.path()) == 0;
}

bool RenameSevenZipEntry(const std::filesystem::path& archive, const std::string& from,
                         const std::string& to) {
    return RunProgram({"7zz", "rn", "-bd", "-y", archive.string(), from, to}) == 0;
}

} // namespace vm::testing
