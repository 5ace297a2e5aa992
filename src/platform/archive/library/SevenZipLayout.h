#pragma once
// What the archive library needs to know of a 7z archive beyond what libarchive tells: which
// files carry data, how their streams group into folders, and the CRC a folder may store for
// its whole unpacked stream. libarchive checks the CRC stored for each file, not the one
// stored for a folder, so a damaged archive that carries only folder CRCs would pass.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace vm::archive {

struct SevenZipFolder {
    std::uint64_t streams = 1; // files whose data this folder's stream holds, in file order
    bool crcDefined = false;
    std::uint32_t crc = 0;
};

struct SevenZipLayout {
    std::vector<bool> hasStream; // per file, in the order of the archive's file list
    std::vector<SevenZipFolder> folders;
    // The header counts more files, folders or streams than any archive holds (a million):
    // libarchive would size its tables from such a count (100 million files are gigabytes of
    // address space and seconds of work) before finding the header too short for them.
    bool countBeyondReason = false;
};

// Reads the layout from the archive's bytes: the signature header, the (possibly LZMA or
// LZMA2 encoded) header with its streams and files (only countBeyondReason set when a count is
// out of reason). nullopt when the header cannot be read here (a coder only libarchive knows, an
// unexpected property): the folder check is then left out and libarchive's own checks decide.
std::optional<SevenZipLayout> ReadSevenZipLayout(int fd);

// CRC-32 (IEEE 802.3, as 7z stores it) of `size` bytes continued from `crc`.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

// Follows the archive's entries as libarchive returns them and checks each folder's stored
// CRC against the data read for it.
class FolderCrcCheck {
public:
    explicit FolderCrcCheck(std::optional<SevenZipLayout> layout) : layout_(std::move(layout)) {}

    // The next entry of the archive begins.
    void BeginEntry();
    // Data of the current entry at `offset` (gaps count as zero bytes).
    void Data(std::int64_t offset, const void* data, std::size_t size);
    // The current entry is complete; false when it completed a folder whose CRC differs.
    bool EndEntry();

private:
    void Feed(const void* data, std::size_t size);

    std::optional<SevenZipLayout> layout_;
    std::size_t file_ = 0;          // index of the next entry in the file list
    std::size_t folder_ = 0;        // folder whose stream is being read
    std::uint64_t streamsLeft_ = 0; // its files still to come
    bool current_ = false;          // the current entry carries data
    std::int64_t written_ = 0;      // bytes of the current entry seen
    std::uint32_t crc_ = 0;
};

} // namespace vm::archive
