#include "engine/platform/PartFile.h"

#include "platform/fs/Path.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vm::engine {

std::unique_ptr<PartFile> PartFile::Open(std::string_view gbkPath, bool keep) {
    const std::string path = fs::ToLinuxPath(gbkPath);
    if (path.empty())
        return nullptr;
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (keep ? 0 : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<PartFile>(Key{}, fd, static_cast<std::int64_t>(info.st_size));
}

PartFile::~PartFile() {
    ::close(fd_);
}

bool PartFile::Append(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
        size_ += written;
    }
    return true;
}

bool PartFile::Sync() {
    return ::fsync(fd_) == 0;
}

} // namespace vm::engine
