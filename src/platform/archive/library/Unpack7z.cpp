// The program's archive library: a shared object over libarchive with the two exports the
// program looks up, "unpack7z" and "List7z". The executable carries it as bytes and loads it
// from memory, so it must not rely on a file of its own, an rpath or $ORIGIN; it needs only
// libarchive and the C and C++ runtimes. Everything but the two exports is hidden.
//
// Paths arrive as the program holds them: GBK Windows path texts on drive Z:. An archive is
// extracted into a staging folder first and moved into the destination only after every entry
// was read, so a damaged or hostile archive leaves the destination as it was.

#include "platform/archive/library/SevenZipLayout.h"
#include "platform/fs/Path.h"
#include "platform/text/Codepage.h"

#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <new>
#include <stdlib.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vm::archive {
namespace {

// unpack7z results; 0 is the only success.
enum Result : int {
    kOk = 0,
    kBadArguments = 1, // null or unmappable path, unknown mode
    kUnreadable = 2,   // not a 7z archive, damaged, truncated, encrypted or an unsupported coder
    kUnsafeEntry = 3,  // "..", absolute or drive names, links and special files
    kWriteFailed = 4,  // the destination or the staging folder refused a write
    kConflict = 5,     // a link, or a folder where a file goes (or the reverse), in the way
    kRejected = 6,     // the caller's check refused what was extracted
};

// Looks at the extracted entries (the staging folder, a GBK Windows path text) before any of
// them is moved; non-zero refuses the archive.
using StagedCheck = int (*)(const char* stagedFolder, void* context);

// Owns a file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

// libarchive turns the UTF-16 names of 7z entries into the multibyte code set of the calling
// thread's locale; in the "C" locale every Chinese name fails. The process-wide locale belongs
// to the program, so switch this thread alone for the duration of the call.
class ThreadUtf8Locale {
public:
    ThreadUtf8Locale() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {
        if (utf8_ != locale_t{})
            previous_ = uselocale(utf8_);
    }
    ~ThreadUtf8Locale() {
        if (utf8_ != locale_t{}) {
            uselocale(previous_);
            freelocale(utf8_);
        }
    }
    ThreadUtf8Locale(const ThreadUtf8Locale&) = delete;
    ThreadUtf8Locale& operator=(const ThreadUtf8Locale&) = delete;

private:
    locale_t utf8_;
    locale_t previous_{};
};

class Reader {
public:
    explicit Reader(const std::string& path) : archive_(archive_read_new()) {
        if (archive_ == nullptr)
            return;
        // 7z only: the library is "unpack7z", and every other format would widen what a
        // downloaded file can make it parse.
        archive_read_support_format_7zip(archive_);
        // Only a regular file: a FIFO or a device in the archive's place would block the
        // caller or feed it without end.
        file_ = Fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat info {};
        if (!file_ || fstat(file_.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
            archive_read_open_fd(archive_, file_.get(), std::size_t{1} << 20) != ARCHIVE_OK) {
            archive_read_free(archive_);
            archive_ = nullptr;
        }
    }
    ~Reader() {
        if (archive_ != nullptr)
            archive_read_free(archive_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    ::archive* get() const { return archive_; }
    int fd() const { return file_.get(); }
    explicit operator bool() const { return archive_ != nullptr; }

private:
    Fd file_;
    ::archive* archive_;
};

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// The pieces of an entry name, or false when the name is unsafe: empty, absolute, naming a
// drive or holding "..". Archives made on Windows may separate with "\", so both separate.
bool SplitEntryName(std::string_view name, std::vector<std::string>& pieces) {
    pieces.clear();
    if (name.empty() || IsSeparator(name[0]))
        return false;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        std::size_t end = begin;
        while (end < name.size() && !IsSeparator(name[end]))
            ++end;
        const std::string_view piece = name.substr(begin, end - begin);
        if (piece == ".." || piece.find(':') != std::string_view::npos)
            return false;
        if (!piece.empty() && piece != ".")
            pieces.emplace_back(piece);
        begin = end + 1;
    }
    return true;
}

// Opens the folder made of the first `count` pieces below `root`, creating missing ones.
// O_NOFOLLOW on every step: no piece is ever a symbolic link.
Fd OpenFolder(int root, const std::vector<std::string>& pieces, std::size_t count) {
    Fd current(fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; i < count && current; ++i) {
        if (mkdirat(current.get(), pieces[i].c_str(), 0755) != 0 && errno != EEXIST)
            return Fd();
        current = Fd(openat(current.get(), pieces[i].c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return current;
}

bool WriteAll(int fd, const void* data, std::size_t size, off_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = pwrite(fd, bytes, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

int WriteFile(::archive* source, ::archive_entry* entry, int folder, const std::string& name,
              FolderCrcCheck& crcs) {
    const mode_t mode = (archive_entry_perm(entry) & 0111) != 0 ? 0755 : 0644;
    const Fd file(
        openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file)
        return kWriteFailed;
    for (;;) {
        const void* block = nullptr;
        std::size_t size = 0;
        la_int64_t offset = 0;
        const int r = archive_read_data_block(source, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK)
            return kUnreadable;
        if (!WriteAll(file.get(), block, size, static_cast<off_t>(offset)))
            return kWriteFailed;
        crcs.Data(offset, block, size);
    }
    if (archive_entry_mtime_is_set(entry)) {
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {archive_entry_mtime(entry), archive_entry_mtime_nsec(entry)}};
        futimens(file.get(), times);
    }
    return kOk;
}

int ExtractEntry(::archive* source, ::archive_entry* entry, int staging,
                 std::vector<std::string>& pieces, FolderCrcCheck& crcs) {
    const char* name = archive_entry_pathname(entry);
    if (name == nullptr || !SplitEntryName(name, pieces))
        return kUnsafeEntry;
    const mode_t type = archive_entry_filetype(entry);
    if (archive_entry_hardlink(entry) != nullptr || (type != AE_IFREG && type != AE_IFDIR))
        return kUnsafeEntry; // links and special files are never created
    if (type == AE_IFDIR)
        return OpenFolder(staging, pieces, pieces.size()) ? kOk : kWriteFailed;
    if (pieces.empty())
        return kUnsafeEntry;
    const Fd folder = OpenFolder(staging, pieces, pieces.size() - 1);
    if (!folder)
        return kWriteFailed;
    return WriteFile(source, entry, folder.get(), pieces.back(), crcs);
}

int ExtractAll(::archive* source, int staging, FolderCrcCheck& crcs) {
    std::vector<std::string> pieces;
    for (;;) {
        ::archive_entry* entry = nullptr;
        const int r = archive_read_next_header(source, &entry);
        if (r == ARCHIVE_EOF)
            return kOk;
        // A warning here is a name that did not convert; taking it would write another name.
        if (r != ARCHIVE_OK)
            return kUnreadable;
        crcs.BeginEntry();
        if (const int result = ExtractEntry(source, entry, staging, pieces, crcs); result != kOk)
            return result;
        // A CRC stored for a whole folder is checked here; libarchive checks only the files'.
        if (!crcs.EndEntry())
            return kUnreadable;
    }
}

std::vector<std::string> Names(int folder) {
    std::vector<std::string> names;
    DIR* listing = fdopendir(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (listing == nullptr)
        return names;
    rewinddir(listing);
    while (const dirent* item = readdir(listing)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    closedir(listing);
    return names;
}

Fd OpenChildFolder(int parent, const std::string& name) {
    return Fd(openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// Whether every staged entry can take its place: a folder over nothing or a real folder, a file
// over nothing or a regular file. Anything else in the way, a symbolic link above all, refuses
// the whole move before a single file was moved.
int CheckMove(int staged, int destination) {
    for (const std::string& name : Names(staged)) {
        struct stat mine {};
        struct stat theirs {};
        if (fstatat(staged, name.c_str(), &mine, AT_SYMLINK_NOFOLLOW) != 0)
            return kWriteFailed;
        if (fstatat(destination, name.c_str(), &theirs, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            return kConflict;
        }
        if (!S_ISDIR(mine.st_mode)) {
            if (!S_ISREG(theirs.st_mode))
                return kConflict;
            continue;
        }
        if (!S_ISDIR(theirs.st_mode))
            return kConflict;
        const Fd from = OpenChildFolder(staged, name);
        const Fd to = OpenChildFolder(destination, name);
        if (!from || !to)
            return kConflict;
        if (const int result = CheckMove(from.get(), to.get()); result != kOk)
            return result;
    }
    return kOk;
}

// Moves the staged entries into place: a whole folder where the destination has none, each
// file by one rename that replaces the old one atomically.
int Move(int staged, int destination) {
    for (const std::string& name : Names(staged)) {
        struct stat theirs {};
        if (fstatat(destination, name.c_str(), &theirs, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(theirs.st_mode)) {
            const Fd from = OpenChildFolder(staged, name);
            const Fd to = OpenChildFolder(destination, name);
            if (!from || !to)
                return kConflict;
            if (const int result = Move(from.get(), to.get()); result != kOk)
                return result;
            continue;
        }
        if (renameat(staged, name.c_str(), destination, name.c_str()) != 0)
            return kWriteFailed;
    }
    return kOk;
}

void RemoveTree(int parent, const std::string& name) {
    if (const Fd folder = OpenChildFolder(parent, name)) {
        for (const std::string& child : Names(folder.get())) {
            struct stat info {};
            if (fstatat(folder.get(), child.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(info.st_mode))
                RemoveTree(folder.get(), child);
            else
                unlinkat(folder.get(), child.c_str(), 0);
        }
    }
    unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// The staging folder: beside the destination, so that the final renames stay on one file
// system and a failed unpack leaves no trace inside it; inside the destination (hidden) when the
// parent is not writable or lies on another file system.
class Staging {
public:
    Staging(const std::string& destination, int destinationFd) {
        struct stat target {};
        if (fstat(destinationFd, &target) != 0)
            return;
        std::string path = destination;
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::size_t slash = path.rfind('/');
        if (path != "/" && slash != std::string::npos) {
            const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
            // "." + std::string.
            std::string pattern(1, '.');
            pattern.append(path, slash + 1).append(".unpack-XXXXXX");
            if (TryAt(parent, pattern) && !SameDevice(target))
                Remove();
        }
        if (!folder_ && TryAt(path, ".unpack7z-XXXXXX") && !SameDevice(target))
            Remove();
    }
    ~Staging() { Remove(); }
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    int get() const { return folder_.get(); }
    explicit operator bool() const { return static_cast<bool>(folder_); }
    const std::string& Path() const { return path_; }

private:
    bool TryAt(const std::string& parent, const std::string& pattern) {
        parent_ = Fd(open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!parent_)
            return false;
        std::string path = parent + "/" + pattern;
        if (mkdtemp(path.data()) == nullptr)
            return false;
        name_ = path.substr(parent.size() + 1);
        path_ = path;
        folder_ = OpenChildFolder(parent_.get(), name_);
        if (!folder_)
            unlinkat(parent_.get(), name_.c_str(), AT_REMOVEDIR);
        return static_cast<bool>(folder_);
    }

    bool SameDevice(const struct stat& target) const {
        struct stat info {};
        return fstat(folder_.get(), &info) == 0 && info.st_dev == target.st_dev;
    }

    void Remove() {
        if (!folder_)
            return;
        folder_ = Fd();
        RemoveTree(parent_.get(), name_);
    }

    Fd parent_;
    Fd folder_;
    std::string name_;
    std::string path_;
};

int Unpack(const char* archivePath, const char* folderPath, int mode, StagedCheck check,
           void* context) {
    if (archivePath == nullptr || folderPath == nullptr || mode != 1)
        return kBadArguments;
    const std::string archiveFile = fs::ToLinuxPath(archivePath);
    const std::string folder = fs::ToLinuxPath(folderPath);
    if (archiveFile.empty() || folder.empty())
        return kBadArguments;

    const ThreadUtf8Locale utf8;
    const Fd destination(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!destination)
        return kWriteFailed;
    // Opened before the staging folder exists, so an unreadable file leaves no trace at all.
    const Reader reader(archiveFile);
    if (!reader)
        return kUnreadable;
    std::optional<SevenZipLayout> layout = ReadSevenZipLayout(reader.fd());
    if (layout && layout->countBeyondReason)
        return kUnreadable;
    const Staging staging(folder, destination.get());
    if (!staging)
        return kWriteFailed;
    FolderCrcCheck crcs(std::move(layout));
    int result = ExtractAll(reader.get(), staging.get(), crcs);
    if (result == kOk && check != nullptr &&
        check(fs::FromLinuxPath(staging.Path()).c_str(), context) != 0)
        result = kRejected;
    if (result == kOk)
        result = CheckMove(staging.get(), destination.get());
    if (result == kOk)
        result = Move(staging.get(), destination.get());
    return result;
}

int List(const char* archivePath, int (*visit)(const char* name, void* context), void* context) {
    if (archivePath == nullptr)
        return -1;
    const std::string archiveFile = fs::ToLinuxPath(archivePath);
    if (archiveFile.empty())
        return -1;
    const ThreadUtf8Locale utf8;
    const Reader reader(archiveFile);
    if (!reader)
        return -1;
    int count = 0;
    for (;;) {
        ::archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            return count;
        const char* name = archive_entry_pathname(entry);
        if (r != ARCHIVE_OK || name == nullptr)
            return -1;
        ++count;
        if (visit != nullptr) {
            // GBK with "\" separators: the form the program's texts take. "/" never occurs as a
            // GBK trail byte, so replacing it byte by byte is safe.
            std::string gbk = text::Utf8ToGbk(name);
            for (char& c : gbk)
                if (c == '/')
                    c = '\\';
            if (visit(gbk.c_str(), context) != 0)
                return count;
        }
    }
}

} // namespace
} // namespace vm::archive

extern "C" {

// Extracts every entry of the 7z archive into the existing folder, replacing files of the same
// name. `mode` must be 1 (replace). 0 on success.
__attribute__((visibility("default"))) int unpack7z(const char* archivePath, const char* folderPath,
                                                    int mode) {
    try {
        return vm::archive::Unpack(archivePath, folderPath, mode, nullptr, nullptr);
    } catch (const std::bad_alloc&) {
        return vm::archive::kWriteFailed;
    }
}

// unpack7z that first hands the extracted entries to `check`, in their staging folder (a GBK
// Windows path text): non-zero refuses the archive with 6 and nothing is moved. The check may
// change the staged files (give one the execute bit) but must leave the folder in place.
__attribute__((visibility("default"))) int unpack7zChecked(const char* archivePath,
                                                           const char* folderPath, int mode,
                                                           vm::archive::StagedCheck check,
                                                           void* context) {
    try {
        return vm::archive::Unpack(archivePath, folderPath, mode, check, context);
    } catch (const std::bad_alloc&) {
        return vm::archive::kWriteFailed;
    }
}

// Calls `visit` with each entry name (GBK, "\" separated) until it returns non-zero; returns the
// number of entries visited, -1 when the archive cannot be read.
__attribute__((visibility("default"))) int
List7z(const char* archivePath, int (*visit)(const char* name, void* context), void* context) {
    try {
        return vm::archive::List(archivePath, visit, context);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // extern "C"
