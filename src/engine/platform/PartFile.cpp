#include "engine/platform/PartFile.h"

#include "platform/fs/File.h"
#include "platform/fs/Path.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vm::engine {
namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::unique_ptr<PartFile> PartFile::Lock(std::string_view gbkPath, LockResult& result) {
    result = LockResult::Failed;
    const std::string path = fs::ToLinuxPath(gbkPath);
    if (path.empty())
        return nullptr;
    // The holder renames or removes the file while it holds the lock, so a lock taken on a
    // descriptor opened just before may belong to a name that is gone: look again then.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0)
            return nullptr;
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK)
                result = LockResult::Busy;
            return nullptr;
        }
        struct stat named {};
        if (::lstat(path.c_str(), &named) == 0 && SameFile(opened, named)) {
            result = LockResult::Locked;
            return std::make_unique<PartFile>(Key{}, fd, std::string(gbkPath), path);
        }
        ::close(fd);
    }
    return nullptr;
}

PartFile::~PartFile() {
    ::close(fd_);
}

std::int64_t PartFile::Size() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
}

bool PartFile::Truncate() {
    return ::ftruncate(fd_, 0) == 0;
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
    }
    return true;
}

bool PartFile::Sync() {
    return ::fsync(fd_) == 0;
}

bool PartFile::MoveTo(std::string_view gbkTarget) {
    // Through the file layer, so that a read-only file of the target's name is not replaced.
    if (!named_ || !fs::MoveFile(gbkPath_, gbkTarget))
        return false;
    named_ = false;
    return true;
}

void PartFile::Remove() {
    if (!named_)
        return;
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd_, &opened) == 0 && ::lstat(linuxPath_.c_str(), &named) == 0 &&
        SameFile(opened, named))
        ::unlink(linuxPath_.c_str());
    named_ = false;
}

} // namespace vm::engine
