#include "platform/fs/File.h"

#include "platform/fs/Path.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vm::fs {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Closes now so that a failing close (a full disk on some file systems) is seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

class Directory {
public:
    explicit Directory(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~Directory() {
        if (dir_ != nullptr)
            ::closedir(dir_);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    bool ok() const { return dir_ != nullptr; }
    const dirent* next() { return ::readdir(dir_); }

private:
    DIR* dir_;
};

std::optional<struct stat> StatOf(const std::string& path, bool followLinks = true) {
    struct stat info {};
    const int r = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (r != 0)
        return std::nullopt;
    return info;
}

bool IsReadOnly(const struct stat& info) {
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::string ParentOf(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastPieceOf(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Entries may be added to, removed from or renamed in the folder holding `path`.
bool FolderAcceptsChanges(const std::string& path) {
    const auto parent = StatOf(ParentOf(path));
    return parent && S_ISDIR(parent->st_mode) && !IsReadOnly(*parent);
}

bool IsWritableFile(const struct stat& info) {
    return !S_ISDIR(info.st_mode) && !IsReadOnly(info);
}

// `path` may be truncated and rewritten when it is there, or else created.
bool MayWriteInPlace(const std::string& path) {
    if (const auto existing = StatOf(path))
        return IsWritableFile(*existing);
    return FolderAcceptsChanges(path);
}

// A new entry may take the place of `path` (rename over it, or create it).
bool MayReplace(const std::string& path) {
    const auto existing = StatOf(path);
    return (!existing || IsWritableFile(*existing)) && FolderAcceptsChanges(path);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Opens a new, exclusively created temporary file beside `target`.
int CreateTempBeside(const std::string& target, std::string& tempPath) {
    static std::atomic<unsigned> counter{0};
    const std::string folder = ParentOf(target);
    const std::string stem = (folder == "/" ? "" : folder) + "/." + LastPieceOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = stem + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

void SyncFolder(const std::string& path) {
    Descriptor folder(::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.ok())
        ::fsync(folder.get());
}

// Fills a temporary file beside `target` through `fill`, flushes it, and renames it over the
// target. The temporary file never outlives a failure.
template <typename Fill>
bool ReplaceAtomically(const std::string& target, std::optional<mode_t> mode, Fill fill) {
    std::string tempPath;
    Descriptor temp(CreateTempBeside(target, tempPath));
    if (!temp.ok())
        return false;
    bool ok = fill(temp.get());
    if (ok && mode)
        ok = ::fchmod(temp.get(), *mode) == 0;
    ok = ok && ::fsync(temp.get()) == 0;
    ok = temp.close() && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    SyncFolder(target);
    return true;
}

bool CopyContents(int from, int to) {
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return true;
        if (!WriteAll(to, std::string_view(buffer.data(), static_cast<std::size_t>(got))))
            return false;
    }
}

// Copies a regular file into place at `to` through a temporary file.
bool CopyRegularFile(const std::string& from, const std::string& to) {
    Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!source.ok() || ::fstat(source.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return ReplaceAtomically(to, info.st_mode & 07777,
                             [&](int fd) { return CopyContents(source.get(), fd); });
}

// One unit of a GBK text for wildcard matching: a byte, ASCII letters folded, or a pair.
std::vector<unsigned> MatchUnits(std::string_view text) {
    std::vector<unsigned> units;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = text::CharLengthAt(text, i);
        unsigned unit = static_cast<unsigned char>(text[i]);
        if (length == 2)
            unit = (unit << 8) | static_cast<unsigned char>(text[i + 1]);
        else if (unit >= 'A' && unit <= 'Z')
            unit += 'a' - 'A';
        units.push_back(unit);
        i += length;
    }
    return units;
}

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    const std::vector<unsigned> n = MatchUnits(name);
    const std::vector<unsigned> p = MatchUnits(pattern);
    std::size_t ni = 0;
    std::size_t pi = 0;
    std::size_t starAt = std::string::npos;
    std::size_t resumeAt = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == '*') {
            starAt = pi++;
            resumeAt = ni;
        } else if (starAt != std::string::npos) {
            pi = starAt + 1;
            ni = ++resumeAt;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

bool HasWildcard(std::string_view piece) {
    return piece.find_first_of("*?") != std::string_view::npos;
}

} // namespace

bool Exists(std::string_view path) {
    if (HasWildcard(FileNameOf(path)))
        return !FindFirstFile(path).empty();
    const std::string native = ToLinuxPath(path);
    return !native.empty() && StatOf(native, false).has_value();
}

bool IsFolder(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return false;
    const auto info = StatOf(native);
    return info && S_ISDIR(info->st_mode);
}

std::int64_t FileSize(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return -1;
    const auto info = StatOf(native);
    if (!info || S_ISDIR(info->st_mode))
        return -1;
    return static_cast<std::int64_t>(info->st_size);
}

std::optional<std::string> ReadFile(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return std::nullopt;
    Descriptor file(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.ok() || ::fstat(file.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;
    std::string contents;
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            return contents;
        contents.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

bool WriteFile(std::string_view path, std::string_view bytes) {
    const std::string native = ToLinuxPath(path);
    if (native.empty() || !MayWriteInPlace(native))
        return false;
    Descriptor file(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.ok())
        return false;
    const bool written = WriteAll(file.get(), bytes);
    return file.close() && written;
}

bool WriteFileAtomic(std::string_view path, std::string_view bytes) {
    std::string native = ToLinuxPath(path);
    if (native.empty())
        return false;
    // Renaming over a symbolic link would replace the link, not the file it stands for.
    if (const auto link = StatOf(native, false); link && S_ISLNK(link->st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(native.c_str(), resolved) == nullptr)
            return false;
        native = resolved;
    }
    if (!MayReplace(native))
        return false;
    std::optional<mode_t> mode;
    if (const auto existing = StatOf(native))
        mode = existing->st_mode & 07777;
    return ReplaceAtomically(native, mode, [&](int fd) { return WriteAll(fd, bytes); });
}

bool DeleteFile(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return false;
    const auto info = StatOf(native, false);
    if (!info || S_ISDIR(info->st_mode) || (S_ISREG(info->st_mode) && IsReadOnly(*info)))
        return false;
    return FolderAcceptsChanges(native) && ::unlink(native.c_str()) == 0;
}

bool CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
    const std::string source = ToLinuxPath(from);
    const std::string target = ToLinuxPath(to);
    if (source.empty() || target.empty() || !MayReplace(target))
        return false;
    const auto sourceInfo = StatOf(source);
    if (!sourceInfo || !S_ISREG(sourceInfo->st_mode))
        return false;
    if (const auto targetInfo = StatOf(target)) {
        const bool same =
            targetInfo->st_dev == sourceInfo->st_dev && targetInfo->st_ino == sourceInfo->st_ino;
        if (failIfExists || same)
            return false;
    }
    return CopyRegularFile(source, target);
}

bool MoveFile(std::string_view from, std::string_view to) {
    const std::string source = ToLinuxPath(from);
    const std::string target = ToLinuxPath(to);
    if (source.empty() || target.empty())
        return false;
    const auto sourceInfo = StatOf(source, false);
    if (!sourceInfo || !FolderAcceptsChanges(source) || !MayReplace(target))
        return false;
    if (::rename(source.c_str(), target.c_str()) == 0)
        return true;
    // Across file systems a file is copied into place and the original removed afterwards.
    if (errno != EXDEV || !S_ISREG(sourceInfo->st_mode))
        return false;
    return CopyRegularFile(source, target) && ::unlink(source.c_str()) == 0;
}

bool CreateFolder(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    return !native.empty() && FolderAcceptsChanges(native) && ::mkdir(native.c_str(), 0777) == 0;
}

bool RemoveFolder(std::string_view path) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return false;
    const auto info = StatOf(native, false);
    if (!info || !S_ISDIR(info->st_mode) || IsReadOnly(*info))
        return false;
    return FolderAcceptsChanges(native) && ::rmdir(native.c_str()) == 0;
}

bool SetAttributes(std::string_view path, unsigned attributes) {
    const std::string native = ToLinuxPath(path);
    if (native.empty())
        return false;
    const auto info = StatOf(native);
    if (!info)
        return false;
    mode_t mode = info->st_mode & 07777;
    if (attributes & kAttributeReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    return ::chmod(native.c_str(), mode) == 0;
}

std::string FindFirstFile(std::string_view pattern) {
    const std::string folder = FolderOf(pattern);
    std::string piece = FileNameOf(pattern);
    if (piece.empty())
        return {};
    if (piece == "*.*")
        piece = "*";
    const std::string nativeFolder = folder.empty() ? "." : ToLinuxPath(folder);
    if (nativeFolder.empty())
        return {};
    Directory directory(nativeFolder);
    if (!directory.ok())
        return {};
    std::string first;
    while (const dirent* entry = directory.next()) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string gbk = text::Utf8ToGbk(name);
        if (text::GbkToUtf8(gbk) != name)
            continue;
        if (MatchesWildcard(gbk, piece) && (first.empty() || gbk < first))
            first = gbk;
    }
    return first;
}

} // namespace vm::fs
