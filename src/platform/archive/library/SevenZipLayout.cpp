#include "platform/archive/library/SevenZipLayout.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <lzma.h>
#include <string>
#include <unistd.h>

namespace vm::archive {
namespace {

// Property identifiers of the 7z header.
enum : std::uint8_t {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kFilesInfo = 0x05,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kEmptyStream = 0x0E,
    kEncodedHeader = 0x17,
};

// Far beyond any real archive, and small enough that a hostile count allocates little.
constexpr std::uint64_t kMaxItems = 1u << 20;
constexpr std::uint64_t kMaxHeaderBytes = 64u << 20;

struct Failure {};
struct CountBeyondReason {};

// A cursor over header bytes; every read past the end fails the whole layout.
class Bytes {
public:
    explicit Bytes(std::string_view data) : data_(data) {}

    bool AtEnd() const { return at_ >= data_.size(); }
    std::uint8_t Byte() {
        if (at_ >= data_.size())
            throw Failure{};
        return static_cast<std::uint8_t>(data_[at_++]);
    }
    std::string_view Take(std::uint64_t size) {
        if (size > data_.size() - at_)
            throw Failure{};
        const std::string_view part = data_.substr(at_, size);
        at_ += size;
        return part;
    }
    std::uint32_t Uint32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        return value;
    }
    std::uint64_t Uint64() {
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i)
            value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
        return value;
    }
    // The 7z NUMBER: the leading one bits of the first byte say how many bytes follow.
    std::uint64_t Number() {
        const std::uint8_t first = Byte();
        std::uint8_t mask = 0x80;
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0) {
                const std::uint64_t high = first & (mask - 1u);
                return value | (high << (8 * i));
            }
            value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }
    std::uint64_t Count() {
        const std::uint64_t n = Number();
        if (n > kMaxItems)
            throw CountBeyondReason{};
        return n;
    }
    void Expect(std::uint8_t id) {
        if (Byte() != id)
            throw Failure{};
    }

private:
    std::string_view data_;
    std::size_t at_ = 0;
};

std::vector<bool> BitVector(Bytes& in, std::uint64_t count) {
    std::vector<bool> bits(count);
    std::uint8_t byte = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i % 8 == 0)
            byte = in.Byte();
        bits[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
    return bits;
}

struct Digests {
    std::vector<bool> defined;
    std::vector<std::uint32_t> values;
};

Digests ReadDigests(Bytes& in, std::uint64_t count) {
    Digests digests;
    const bool all = in.Byte() != 0;
    digests.defined = all ? std::vector<bool>(count, true) : BitVector(in, count);
    digests.values.resize(count);
    for (std::uint64_t i = 0; i < count; ++i)
        if (digests.defined[i])
            digests.values[i] = in.Uint32();
    return digests;
}

struct Coder {
    std::string id;
    std::string properties;
    std::uint64_t inStreams = 1;
    std::uint64_t outStreams = 1;
};

struct Folder {
    std::vector<Coder> coders;
    std::vector<std::uint64_t> boundOut; // out streams fed into another coder
    std::vector<std::uint64_t> unpackSizes;
    std::uint64_t packedStreams = 1;
    bool crcDefined = false;
    std::uint32_t crc = 0;

    std::uint64_t OutStreams() const {
        std::uint64_t total = 0;
        for (const Coder& coder : coders)
            total += coder.outStreams;
        return total;
    }
    // The size of the one out stream no coder consumes: the folder's unpacked stream.
    std::uint64_t UnpackSize() const {
        for (std::uint64_t i = 0; i < unpackSizes.size(); ++i) {
            bool bound = false;
            for (const std::uint64_t out : boundOut)
                bound = bound || out == i;
            if (!bound)
                return unpackSizes[i];
        }
        throw Failure{};
    }
};

Folder ReadFolder(Bytes& in) {
    Folder folder;
    const std::uint64_t coders = in.Count();
    if (coders == 0 || coders > 64)
        throw Failure{};
    std::uint64_t inTotal = 0;
    for (std::uint64_t i = 0; i < coders; ++i) {
        const std::uint8_t flags = in.Byte();
        if ((flags & 0x80) != 0)
            throw Failure{}; // alternative methods: never written
        Coder coder;
        coder.id = std::string(in.Take(flags & 0x0F));
        if ((flags & 0x10) != 0) {
            coder.inStreams = in.Count();
            coder.outStreams = in.Count();
        }
        if ((flags & 0x20) != 0)
            coder.properties = std::string(in.Take(in.Count()));
        inTotal += coder.inStreams;
        folder.coders.push_back(std::move(coder));
    }
    const std::uint64_t outTotal = folder.OutStreams();
    if (outTotal == 0 || outTotal > 64 || inTotal > 64 || inTotal < outTotal - 1)
        throw Failure{};
    for (std::uint64_t i = 0; i + 1 < outTotal; ++i) {
        in.Number(); // in index
        folder.boundOut.push_back(in.Number());
    }
    folder.packedStreams = inTotal - (outTotal - 1);
    if (folder.packedStreams > 1)
        for (std::uint64_t i = 0; i < folder.packedStreams; ++i)
            in.Number();
    return folder;
}

struct StreamsInfo {
    std::uint64_t packPosition = 0;
    std::vector<std::uint64_t> packSizes;
    std::vector<Folder> folders;
    std::vector<std::uint64_t> substreams; // per folder
};

void ReadPackInfo(Bytes& in, StreamsInfo& info) {
    info.packPosition = in.Number();
    const std::uint64_t count = in.Count();
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kSize) {
            for (std::uint64_t i = 0; i < count; ++i)
                info.packSizes.push_back(in.Number());
        } else if (id == kCrc) {
            ReadDigests(in, count);
        } else {
            throw Failure{};
        }
    }
}

void ReadUnpackInfo(Bytes& in, StreamsInfo& info) {
    in.Expect(kFolder);
    const std::uint64_t count = in.Count();
    if (in.Byte() != 0)
        throw Failure{}; // folders kept in another stream: never written
    for (std::uint64_t i = 0; i < count; ++i)
        info.folders.push_back(ReadFolder(in));
    in.Expect(kCodersUnpackSize);
    for (Folder& folder : info.folders)
        for (std::uint64_t i = 0, n = folder.OutStreams(); i < n; ++i)
            folder.unpackSizes.push_back(in.Number());
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id != kCrc)
            throw Failure{};
        const Digests digests = ReadDigests(in, count);
        for (std::uint64_t i = 0; i < count; ++i) {
            info.folders[i].crcDefined = digests.defined[i];
            info.folders[i].crc = digests.values[i];
        }
    }
}

void ReadSubStreamsInfo(Bytes& in, StreamsInfo& info) {
    info.substreams.assign(info.folders.size(), 1);
    std::uint8_t id = in.Byte();
    if (id == kNumUnpackStream) {
        for (std::uint64_t& n : info.substreams)
            n = in.Count();
        id = in.Byte();
    }
    if (id == kSize) {
        for (const std::uint64_t n : info.substreams)
            for (std::uint64_t i = 1; i < n; ++i)
                in.Number();
        id = in.Byte();
    }
    // The digests of the files themselves: libarchive checks those.
    while (id != kEnd) {
        if (id != kCrc)
            throw Failure{};
        std::uint64_t unknown = 0;
        for (std::size_t i = 0; i < info.folders.size(); ++i)
            if (info.substreams[i] != 1 || !info.folders[i].crcDefined)
                unknown += info.substreams[i];
        if (unknown > kMaxItems)
            throw Failure{};
        ReadDigests(in, unknown);
        id = in.Byte();
    }
}

StreamsInfo ReadStreamsInfo(Bytes& in) {
    StreamsInfo info;
    bool subStreams = false;
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kPackInfo) {
            ReadPackInfo(in, info);
        } else if (id == kUnpackInfo) {
            ReadUnpackInfo(in, info);
        } else if (id == kSubStreamsInfo) {
            ReadSubStreamsInfo(in, info);
            subStreams = true;
        } else {
            throw Failure{};
        }
    }
    if (!subStreams)
        info.substreams.assign(info.folders.size(), 1);
    return info;
}

std::string ReadAt(int fd, std::uint64_t offset, std::uint64_t size) {
    if (size > kMaxHeaderBytes)
        throw Failure{};
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0)
            throw Failure{};
        done += static_cast<std::size_t>(n);
    }
    return bytes;
}

// The header packed into one folder of one LZMA, LZMA2 or Copy coder, which is what 7-Zip
// writes; anything else is left to libarchive.
std::string DecodeHeader(int fd, const StreamsInfo& info) {
    if (info.folders.size() != 1 || info.packSizes.size() != 1)
        throw Failure{};
    const Folder& folder = info.folders[0];
    if (folder.coders.size() != 1 || folder.coders[0].inStreams != 1)
        throw Failure{};
    const std::uint64_t unpackSize = folder.UnpackSize();
    if (unpackSize > kMaxHeaderBytes)
        throw Failure{};
    const std::string packed = ReadAt(fd, 32 + info.packPosition, info.packSizes[0]);
    const Coder& coder = folder.coders[0];
    std::string header;
    if (coder.id == std::string_view("\x00", 1)) {
        header = packed;
    } else {
        lzma_filter filters[2] = {{LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
        if (coder.id == std::string_view("\x03\x01\x01", 3))
            filters[0].id = LZMA_FILTER_LZMA1;
        else if (coder.id == std::string_view("\x21", 1))
            filters[0].id = LZMA_FILTER_LZMA2;
        else
            throw Failure{};
        if (lzma_properties_decode(&filters[0], nullptr,
                                   reinterpret_cast<const std::uint8_t*>(coder.properties.data()),
                                   coder.properties.size()) != LZMA_OK)
            throw Failure{};
        // The dictionary is allocated at the size the header declares, which a hostile archive
        // sets to gigabytes; no match can reach further back than the output's start, so the
        // header's own size is all the dictionary it can use.
        auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
        const std::uint64_t usable = std::max<std::uint64_t>(unpackSize, LZMA_DICT_SIZE_MIN);
        if (options->dict_size > usable)
            options->dict_size = static_cast<std::uint32_t>(usable);
        lzma_stream stream = LZMA_STREAM_INIT;
        const lzma_ret started = lzma_raw_decoder(&stream, filters);
        std::free(filters[0].options);
        if (started != LZMA_OK)
            throw Failure{};
        header.resize(unpackSize);
        stream.next_in = reinterpret_cast<const std::uint8_t*>(packed.data());
        stream.avail_in = packed.size();
        stream.next_out = reinterpret_cast<std::uint8_t*>(header.data());
        stream.avail_out = header.size();
        lzma_ret r = LZMA_OK;
        while (r == LZMA_OK && stream.avail_out > 0)
            r = lzma_code(&stream, stream.avail_in > 0 ? LZMA_RUN : LZMA_FINISH);
        lzma_end(&stream);
        if (stream.avail_out != 0 || (r != LZMA_OK && r != LZMA_STREAM_END))
            throw Failure{};
    }
    if (header.size() != unpackSize ||
        (folder.crcDefined && Crc32(0, header.data(), header.size()) != folder.crc))
        throw Failure{};
    return header;
}

std::vector<bool> ReadFilesInfo(Bytes& in) {
    const std::uint64_t files = in.Count();
    std::vector<bool> empty(files, false);
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        const std::uint64_t size = in.Number();
        Bytes property(in.Take(size));
        if (id == kEmptyStream)
            empty = BitVector(property, files);
    }
    std::vector<bool> hasStream(files);
    for (std::uint64_t i = 0; i < files; ++i)
        hasStream[i] = !empty[i];
    return hasStream;
}

SevenZipLayout ReadHeader(Bytes& in) {
    SevenZipLayout layout;
    StreamsInfo streams;
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kArchiveProperties) {
            while (in.Byte() != kEnd)
                in.Take(in.Number());
        } else if (id == kAdditionalStreamsInfo) {
            ReadStreamsInfo(in);
        } else if (id == kMainStreamsInfo) {
            streams = ReadStreamsInfo(in);
        } else if (id == kFilesInfo) {
            layout.hasStream = ReadFilesInfo(in);
        } else {
            throw Failure{};
        }
    }
    for (std::size_t i = 0; i < streams.folders.size(); ++i)
        layout.folders.push_back(
            {streams.substreams[i], streams.folders[i].crcDefined, streams.folders[i].crc});
    return layout;
}

const std::array<std::uint32_t, 256>& CrcTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

} // namespace

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
    const auto& table = CrcTable();
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::optional<SevenZipLayout> ReadSevenZipLayout(int fd) {
    try {
        const std::string signature = ReadAt(fd, 0, 32);
        Bytes start(signature);
        if (start.Take(6) != std::string_view("7z\xBC\xAF\x27\x1C", 6))
            return std::nullopt;
        start.Take(6); // version and the start header's CRC, which libarchive checks
        const std::uint64_t offset = start.Uint64();
        const std::uint64_t size = start.Uint64();
        if (size == 0 || offset > (std::uint64_t{1} << 48))
            return std::nullopt;
        std::string header = ReadAt(fd, 32 + offset, size);
        // An encoded header is a stream of its own; 7-Zip packs the header once.
        for (int level = 0; level < 4; ++level) {
            Bytes in(header);
            const std::uint8_t id = in.Byte();
            if (id == kHeader)
                return ReadHeader(in);
            if (id != kEncodedHeader)
                return std::nullopt;
            header = DecodeHeader(fd, ReadStreamsInfo(in));
        }
    } catch (const Failure&) {
    } catch (const CountBeyondReason&) {
        SevenZipLayout refused;
        refused.countBeyondReason = true;
        return refused;
    }
    return std::nullopt;
}

void FolderCrcCheck::BeginEntry() {
    current_ = false;
    written_ = 0;
    if (!layout_)
        return;
    if (file_ >= layout_->hasStream.size()) {
        layout_.reset(); // the file list and the entries disagree: nothing to check against
        return;
    }
    current_ = layout_->hasStream[file_++];
    if (!current_ || streamsLeft_ > 0)
        return;
    // The next folder that holds any file's data.
    while (folder_ < layout_->folders.size() && layout_->folders[folder_].streams == 0)
        ++folder_;
    if (folder_ >= layout_->folders.size()) {
        layout_.reset();
        current_ = false;
        return;
    }
    streamsLeft_ = layout_->folders[folder_].streams;
    crc_ = 0;
}

void FolderCrcCheck::Feed(const void* data, std::size_t size) {
    crc_ = Crc32(crc_, data, size);
    written_ += static_cast<std::int64_t>(size);
}

void FolderCrcCheck::Data(std::int64_t offset, const void* data, std::size_t size) {
    if (!current_ || !layout_)
        return;
    static const std::array<std::uint8_t, 4096> zeros{};
    while (written_ < offset) {
        const auto gap = static_cast<std::size_t>(
            std::min<std::int64_t>(offset - written_, static_cast<std::int64_t>(zeros.size())));
        Feed(zeros.data(), gap);
    }
    if (offset + static_cast<std::int64_t>(size) <= written_)
        return;
    const auto skip = static_cast<std::size_t>(written_ - offset);
    Feed(static_cast<const std::uint8_t*>(data) + skip, size - skip);
}

bool FolderCrcCheck::EndEntry() {
    if (!current_ || !layout_)
        return true;
    current_ = false;
    if (--streamsLeft_ > 0)
        return true;
    const SevenZipFolder& folder = layout_->folders[folder_++];
    return !folder.crcDefined || folder.crc == crc_;
}

} // namespace vm::archive
