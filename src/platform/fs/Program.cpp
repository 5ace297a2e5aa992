#include "platform/fs/Program.h"

#include "platform/fs/Path.h"

#include <array>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vm::fs {
namespace {

#if defined(__x86_64__)
constexpr unsigned kMachine = EM_X86_64;
constexpr unsigned char kClass = ELFCLASS64;
#elif defined(__aarch64__)
constexpr unsigned kMachine = EM_AARCH64;
constexpr unsigned char kClass = ELFCLASS64;
#elif defined(__i386__)
constexpr unsigned kMachine = EM_386;
constexpr unsigned char kClass = ELFCLASS32;
#else
#error "the machine this program runs on needs its ELF machine number"
#endif

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif

// The first bytes of a regular file; fewer when the file is shorter. Empty for anything else.
std::string Head(const std::string& linuxPath, std::size_t count) {
    const int fd = ::open(linuxPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bytes.resize(count);
        const ssize_t n = ::pread(fd, bytes.data(), count, 0);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    ::close(fd);
    return bytes;
}

bool IsNativeElf(const std::string& head) {
    // e_ident and e_type, e_machine are at the same places in both classes.
    if (head.size() < 20 || head.compare(0, 4,
                                         "\x7f"
                                         "ELF") != 0)
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(head.data());
    if (bytes[EI_CLASS] != kClass || bytes[EI_DATA] != kData)
        return false;
    std::uint16_t type = 0;
    std::uint16_t machine = 0;
    std::memcpy(&type, bytes + 16, 2);
    std::memcpy(&machine, bytes + 18, 2);
    return (type == ET_EXEC || type == ET_DYN) && machine == kMachine;
}

// "#!/bin/sh -e": the interpreter is the first word after "#!".
bool IsRunnableScript(const std::string& head) {
    if (!head.starts_with("#!"))
        return false;
    std::size_t begin = 2;
    while (begin < head.size() && (head[begin] == ' ' || head[begin] == '\t'))
        ++begin;
    std::size_t end = begin;
    while (end < head.size() && head[end] != ' ' && head[end] != '\t' && head[end] != '\n' &&
           head[end] != '\r')
        ++end;
    if (end == begin || end == head.size())
        return false; // no interpreter, or a line longer than the kernel reads
    const std::string interpreter = head.substr(begin, end - begin);
    return interpreter.starts_with('/') && ::access(interpreter.c_str(), X_OK) == 0;
}

} // namespace

ProgramKind ProgramKindOf(std::string_view path) {
    const std::string linuxPath = ToLinuxPath(path);
    struct stat info {};
    if (linuxPath.empty() || ::lstat(linuxPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return ProgramKind::Missing;
    // The kernel reads at most 256 bytes of a "#!" line.
    const std::string head = Head(linuxPath, 256);
    if (IsNativeElf(head))
        return ProgramKind::Native;
    if (IsRunnableScript(head))
        return ProgramKind::Script;
    return ProgramKind::Foreign;
}

bool IsExecutable(std::string_view path) {
    const std::string linuxPath = ToLinuxPath(path);
    struct stat info {};
    return !linuxPath.empty() && ::stat(linuxPath.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           (info.st_mode & S_IXUSR) != 0;
}

bool MakeExecutable(std::string_view path) {
    const std::string linuxPath = ToLinuxPath(path);
    struct stat info {};
    if (linuxPath.empty() || ::lstat(linuxPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const mode_t mode = info.st_mode & 07777;
    const mode_t readers = mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(linuxPath.c_str(), mode | (readers >> 2)) == 0;
}

} // namespace vm::fs
