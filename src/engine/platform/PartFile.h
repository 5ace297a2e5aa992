#pragma once
// The file a download fills before it is renamed into place, held under an exclusive lock
// (flock) from the first look at it until the download ends: two engines started for one
// target would otherwise resume the same part and interleave their bytes. Bytes are appended
// as they arrive and flushed to the disk before the rename, so the final name never shows a
// file whose tail is still in the page cache when the machine goes down.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vm::engine {

class PartFile {
public:
    enum class LockResult { Locked, Busy, Failed };

    // Opens or creates the file (a Windows path text, GBK) without changing it and locks it.
    // Busy when another process (or another PartFile) holds the lock; Failed when it cannot be
    // opened, or the name is a link or no regular file.
    static std::unique_ptr<PartFile> Lock(std::string_view gbkPath, LockResult& result);

private:
    struct Key {};

public:
    // Takes ownership of the open, locked descriptor.
    PartFile(Key, int fd, std::string gbkPath, std::string linuxPath)
        : fd_(fd), gbkPath_(std::move(gbkPath)), linuxPath_(std::move(linuxPath)) {}
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    std::int64_t Size() const;
    // Empties the file; the lock stays.
    bool Truncate();
    bool Append(const std::uint8_t* data, std::size_t size);
    // Writes everything to the disk. False when the disk refused it.
    bool Sync();
    // Gives the file the name `gbkTarget`, replacing what is there, while the lock is held.
    bool MoveTo(std::string_view gbkTarget);
    // Removes the file's name while the lock is held; a later Lock creates a new file.
    void Remove();

private:
    int fd_;
    std::string gbkPath_;
    std::string linuxPath_;
    bool named_ = true; // the path still names this file
};

} // namespace vm::engine
