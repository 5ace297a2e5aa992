#include "engine/platform/FileMode.h"

#include "platform/fs/Path.h"

#include <sys/stat.h>

namespace vm::engine {

bool MakeExecutable(std::string_view gbkPath) {
    const std::string path = fs::ToLinuxPath(gbkPath);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    const mode_t mode = info.st_mode & 07777;
    const mode_t readers = mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ::chmod(path.c_str(), mode | (readers >> 2)) == 0;
}

} // namespace vm::engine
