#pragma once
// The file a download fills before it is renamed into place. Bytes are appended as they
// arrive and flushed to the disk before the rename, so the final name never shows a file
// whose tail is still in the page cache when the machine goes down.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace vm::engine {

class PartFile {
public:
    // Opens or creates the file (a Windows path text, GBK) for appending; without `keep` it
    // is emptied first. Null when it cannot be opened, or when the name is a link.
    static std::unique_ptr<PartFile> Open(std::string_view gbkPath, bool keep);

private:
    struct Key {};

public:
    // Takes ownership of the open descriptor.
    PartFile(Key, int fd, std::int64_t size) : fd_(fd), size_(size) {}
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    std::int64_t Size() const { return size_; }
    bool Append(const std::uint8_t* data, std::size_t size);
    // Writes everything to the disk. False when the disk refused it.
    bool Sync();

private:
    int fd_;
    std::int64_t size_;
};

} // namespace vm::engine
