#include "sys/MemoryLibrary.h"

#include <algorithm>
#include <cstring>

namespace vm::sys {
namespace {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kNtHeadersSize = 248;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint16_t kDosMagic = 0x5A4D;    // "MZ"
constexpr std::uint16_t kPeSignature = 0x4550; // "PE"
constexpr std::uint16_t kExecutableImage = 0x0002;
constexpr std::uint16_t kDll = 0x2000;
constexpr std::uint16_t kPe32OptionalHeaderSize = 0xE0;
constexpr std::uint32_t kImageBaseOffset = 52; // from the start of the NT headers
constexpr int kRelocationHighLow = 3;
constexpr std::uint32_t kImportByOrdinal = 0x80000000;
constexpr std::uint32_t kProcessAttach = 1;
constexpr std::uint32_t kProcessDetach = 0;
// Far above any DLL this program meets; an image claiming more is damaged or hostile.
constexpr std::uint64_t kMaxImageSize = std::uint64_t{256} << 20;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void Write32(unsigned char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

unsigned char* At(std::uintptr_t base, std::uint64_t rva) {
    return reinterpret_cast<unsigned char*>(base + static_cast<std::uintptr_t>(rva));
}

std::uint64_t AlignUp64(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

DosHeader ReadDosHeader(const unsigned char* p) {
    DosHeader header;
    header.magic = Read16(p);
    header.newHeaderOffset = Read32(p + 60);
    return header;
}

NtHeaders ReadNtHeaders(const unsigned char* p) {
    NtHeaders nt;
    nt.signature = Read32(p);
    nt.machine = Read16(p + 4);
    nt.numberOfSections = Read16(p + 6);
    nt.timeDateStamp = Read32(p + 8);
    nt.sizeOfOptionalHeader = Read16(p + 20);
    nt.characteristics = Read16(p + 22);
    nt.optionalMagic = Read16(p + 24);
    nt.addressOfEntryPoint = Read32(p + 40);
    nt.imageBase = Read32(p + 52);
    nt.sectionAlignment = Read32(p + 56);
    nt.fileAlignment = Read32(p + 60);
    nt.sizeOfImage = Read32(p + 80);
    nt.sizeOfHeaders = Read32(p + 84);
    nt.numberOfRvaAndSizes = Read32(p + 116);
    for (std::size_t i = 0; i < nt.dataDirectories.size(); ++i) {
        nt.dataDirectories[i].virtualAddress = Read32(p + 120 + 8 * i);
        nt.dataDirectories[i].size = Read32(p + 124 + 8 * i);
    }
    return nt;
}

std::vector<SectionHeader> ReadSections(const unsigned char* p, std::size_t count) {
    std::vector<SectionHeader> sections(count);
    for (SectionHeader& section : sections) {
        std::memcpy(section.name.data(), p, section.name.size());
        section.virtualSize = Read32(p + 8);
        section.virtualAddress = Read32(p + 12);
        section.sizeOfRawData = Read32(p + 16);
        section.pointerToRawData = Read32(p + 20);
        section.characteristics = Read32(p + 36);
        p += kSectionHeaderSize;
    }
    return sections;
}

} // namespace

MemoryLibrary::MemoryLibrary() = default;

MemoryLibrary::~MemoryLibrary() {
    Unload();
}

MemoryLibrary::MemoryLibrary(const MemoryLibrary& source) {
    CopyFrom(source);
}

MemoryLibrary& MemoryLibrary::operator=(const MemoryLibrary& source) {
    CopyFrom(source);
    return *this;
}

void MemoryLibrary::CopyFrom(const MemoryLibrary& source) {
    if (this == &source)
        return;
    Unload();
    loaded_ = source.loaded_;
    kind_ = source.kind_;
    imageBase_ = source.imageBase_;
    entryPoint_ = source.entryPoint_;
    dosHeader_ = source.dosHeader_;
    ntHeaders_ = source.ntHeaders_;
    sections_ = source.sections_;
    importedLibraries_ = source.importedLibraries_;
    mappedSize_ = source.mappedSize_;
    parsedLength_ = source.parsedLength_;
    entryCall_ = source.entryCall_;
    memory_ = source.memory_;
    sharedObject_ = source.sharedObject_;
    for (const module::ModuleHandle handle : importedLibraries_)
        module::AddHostModuleReference(handle);
}

bool MemoryLibrary::LoadFromMemory(const std::string& imageBytes) {
    // A second load would orphan the first image; the program never does it.
    if (imageBytes.empty() || loaded_)
        return false;
    if (imageBytes.size() >= 4 && imageBytes.compare(0, 4,
                                                     "\x7f"
                                                     "ELF") == 0)
        return LoadElf(imageBytes);

    const auto* data = reinterpret_cast<const unsigned char*>(imageBytes.data());
    if (!ParseHeaders(data, imageBytes.size()))
        return false;
    const std::uint32_t size = ImageSize();
    if (size == 0 || ntHeaders_.addressOfEntryPoint >= size)
        return false;
    std::shared_ptr<module::ImageMemory> memory =
        module::ImageMemory::Allocate(size, ntHeaders_.imageBase);
    if (memory == nullptr)
        return false;
    const std::uintptr_t base = memory->Address();
    memory_ = std::move(memory);
    mappedSize_ = size;
    kind_ = ImageKind::Pe32;
    MapImage(base, data);

    const DataDirectory& relocations = ntHeaders_.dataDirectories[kRelocationDirectory];
    bool resolved = true;
    if (relocations.virtualAddress >= 1 && relocations.size >= 1)
        resolved = ApplyRelocations(base);
    if (!resolved || !ResolveImports(base)) {
        FreeImportedLibraries();
        Reset();
        return false;
    }

    Write32(At(base, dosHeader_.newHeaderOffset + kImageBaseOffset),
            static_cast<std::uint32_t>(base));
    imageBase_ = base;
    entryPoint_ = base + ntHeaders_.addressOfEntryPoint;
    // An entry at 0 would run the headers as code; such an image has no entry, as for the
    // system loader.
    if (ntHeaders_.addressOfEntryPoint != 0 && CallEntry(kProcessAttach) != 1) {
        CallEntry(kProcessDetach);
        FreeImportedLibraries();
        Reset();
        return false;
    }
    loaded_ = true;
    return true;
}

bool MemoryLibrary::LoadElf(const std::string& imageBytes) {
    std::shared_ptr<module::SharedObject> object = module::SharedObject::Load(imageBytes);
    if (object == nullptr)
        return false;
    sharedObject_ = std::move(object);
    kind_ = ImageKind::Elf;
    imageBase_ = sharedObject_->Base();
    loaded_ = true;
    return true;
}

std::uintptr_t MemoryLibrary::GetExport(std::string_view name) const {
    if (kind_ == ImageKind::Elf)
        return sharedObject_ != nullptr ? sharedObject_->Symbol(name) : 0;
    const DataDirectory& directory = ntHeaders_.dataDirectories[kExportDirectory];
    if (memory_ == nullptr || directory.virtualAddress == 0 || directory.size == 0 ||
        !InImage(directory.virtualAddress, 40))
        return 0;
    const std::uintptr_t base = memory_->Address();
    const unsigned char* header = At(base, directory.virtualAddress);
    const std::uint32_t functionCount = Read32(header + 20);
    const std::uint32_t nameCount = Read32(header + 24);
    const std::uint32_t functions = Read32(header + 28);
    const std::uint32_t names = Read32(header + 32);
    const std::uint32_t ordinals = Read32(header + 36);
    if (functionCount == 0 || nameCount == 0 ||
        !InImage(functions, std::uint64_t{functionCount} * 4) ||
        !InImage(names, std::uint64_t{nameCount} * 4) ||
        !InImage(ordinals, std::uint64_t{nameCount} * 2))
        return 0;

    std::string exportName;
    for (std::uint32_t i = 0; i < nameCount; ++i) {
        if (!ReadName(base, Read32(At(base, names + std::uint64_t{i} * 4)), exportName) ||
            exportName != name)
            continue;
        const std::uint16_t index = Read16(At(base, ordinals + std::uint64_t{i} * 2));
        if (index >= functionCount)
            return 0;
        const std::uint32_t rva = Read32(At(base, functions + std::uint64_t{index} * 4));
        const std::uint64_t directoryEnd = std::uint64_t{directory.virtualAddress} + directory.size;
        if (rva > directory.virtualAddress && rva < directoryEnd)
            return 0; // forwarded to another library
        return rva != 0 && InImage(rva, 1) ? base + rva : 0;
    }
    return 0;
}

bool MemoryLibrary::ApplyRelocations(std::uintptr_t base) {
    const DataDirectory& directory = ntHeaders_.dataDirectories[kRelocationDirectory];
    const std::uint64_t end = std::uint64_t{directory.virtualAddress} + directory.size;
    if (end > mappedSize_)
        return false;
    // Arithmetic modulo 2^32, as the 32-bit fields it is added to.
    const std::uint32_t delta = static_cast<std::uint32_t>(base) - ntHeaders_.imageBase;
    // The walk ends at a zero block header, or at the end of the directory when a linker left
    // no such terminator.
    for (std::uint64_t block = directory.virtualAddress; block + 8 <= end;) {
        const std::uint32_t blockRva = Read32(At(base, block));
        const std::uint32_t blockSize = Read32(At(base, block + 4));
        if (blockRva == 0 || blockSize == 0)
            break;
        if (blockSize < 8 || block + blockSize > end)
            return false;
        for (std::uint32_t i = 0; i < (blockSize - 8) / 2; ++i) {
            const std::uint16_t entry = Read16(At(base, block + 8 + 2 * i));
            if (entry >> 12 != kRelocationHighLow)
                continue;
            const std::uint64_t target = std::uint64_t{blockRva} + (entry & 0xFFF);
            if (!InImage(target, 4))
                return false;
            Write32(At(base, target), Read32(At(base, target)) + delta);
        }
        block += blockSize;
    }
    return true;
}

bool MemoryLibrary::ResolveImports(std::uintptr_t base) {
    const DataDirectory& directory = ntHeaders_.dataDirectories[kImportDirectory];
    if (directory.virtualAddress == 0 || directory.size == 0)
        return true;
    std::string libraryName;
    std::string functionName;
    for (std::uint64_t descriptor = directory.virtualAddress;; descriptor += 20) {
        if (!InImage(descriptor, 20))
            return false;
        const std::uint32_t nameRva = Read32(At(base, descriptor + 12));
        const std::uint32_t firstThunk = Read32(At(base, descriptor + 16));
        if (nameRva == 0)
            return true;
        if (!ReadName(base, nameRva, libraryName))
            return false;
        module::ModuleHandle handle = module::FindHostModule(libraryName);
        if (handle == 0) {
            handle = module::LoadHostModule(libraryName);
            if (handle == 0)
                return false;
            importedLibraries_.push_back(handle);
        }
        // FirstThunk is both read and overwritten; OriginalFirstThunk is not needed.
        for (std::uint64_t slot = firstThunk;; slot += 4) {
            if (!InImage(slot, 4))
                return false;
            const std::uint32_t value = Read32(At(base, slot));
            if (value == 0)
                break;
            std::uint32_t address = 0;
            if ((value & kImportByOrdinal) != 0)
                address = module::HostProcAddressByOrdinal(handle, value & 0xFFFF);
            else if (value <= UINT32_MAX - 2 && ReadName(base, value + 2, functionName))
                address = module::HostProcAddress(handle, functionName); // after the hint
            if (address == 0)
                return false;
            Write32(At(base, slot), address);
        }
    }
}

bool MemoryLibrary::ParseHeaders(const unsigned char* data, std::size_t length) {
    if (length < kDosHeaderSize)
        return false;
    dosHeader_ = ReadDosHeader(data);
    if (dosHeader_.magic != kDosMagic)
        return false;
    const std::uint64_t ntOffset = dosHeader_.newHeaderOffset;
    if (length < ntOffset + kNtHeadersSize)
        return false;
    ntHeaders_ = ReadNtHeaders(data + ntOffset);
    if ((ntHeaders_.signature & 0xFFFF) != kPeSignature)
        return false;
    if ((ntHeaders_.characteristics & kDll) == 0 ||
        (ntHeaders_.characteristics & kExecutableImage) == 0)
        return false;
    if (ntHeaders_.sizeOfOptionalHeader != kPe32OptionalHeaderSize)
        return false;
    // The section table, and with it every header, must lie inside the array and inside
    // SizeOfHeaders, which is what MapImage copies.
    const std::uint64_t headersEnd =
        ntOffset + kNtHeadersSize + std::uint64_t{ntHeaders_.numberOfSections} * kSectionHeaderSize;
    if (headersEnd > length || headersEnd > ntHeaders_.sizeOfHeaders ||
        ntHeaders_.sizeOfHeaders > length || ntHeaders_.sectionAlignment == 0)
        return false;
    sections_ = ReadSections(data + ntOffset + kNtHeadersSize, ntHeaders_.numberOfSections);
    for (const SectionHeader& section : sections_)
        if (std::uint64_t{section.pointerToRawData} + section.sizeOfRawData > length)
            return false;
    parsedLength_ = length;
    return true;
}

std::uint32_t MemoryLibrary::AlignUp(std::uint32_t value, std::uint32_t alignment) const {
    if (alignment == 0)
        return 0;
    const std::uint64_t aligned = AlignUp64(value, alignment);
    return aligned <= UINT32_MAX ? static_cast<std::uint32_t>(aligned) : 0;
}

std::uint32_t MemoryLibrary::ImageSize() const {
    const std::uint64_t alignment = ntHeaders_.sectionAlignment;
    if (alignment == 0)
        return 0;
    std::uint64_t size = AlignUp64(ntHeaders_.sizeOfHeaders, alignment);
    for (const SectionHeader& section : sections_) {
        const std::uint64_t end = std::uint64_t{section.virtualAddress} +
                                  std::max(section.virtualSize, section.sizeOfRawData);
        size = std::max(size, AlignUp64(end, alignment));
    }
    return size <= kMaxImageSize ? static_cast<std::uint32_t>(size) : 0;
}

void MemoryLibrary::MapImage(std::uintptr_t base, const unsigned char* data) {
    const std::uint64_t headerBytes = std::uint64_t{ntHeaders_.sizeOfHeaders} +
                                      std::uint64_t{sections_.size()} * kSectionHeaderSize;
    std::memcpy(At(base, 0), data,
                std::min<std::uint64_t>({headerBytes, parsedLength_, mappedSize_}));
    for (const SectionHeader& section : sections_) {
        if (section.virtualAddress == 0 || section.sizeOfRawData == 0 ||
            !InImage(section.virtualAddress, section.sizeOfRawData))
            continue;
        std::memcpy(At(base, section.virtualAddress), data + section.pointerToRawData,
                    section.sizeOfRawData);
    }
    const unsigned char* image = At(base, 0);
    dosHeader_ = ReadDosHeader(image);
    ntHeaders_ = ReadNtHeaders(image + dosHeader_.newHeaderOffset);
    sections_ = ReadSections(image + dosHeader_.newHeaderOffset + kNtHeadersSize, sections_.size());
}

void MemoryLibrary::Unload() {
    if (!loaded_)
        return;
    // Copies share the image: only its last holder detaches it.
    if (kind_ == ImageKind::Pe32 && memory_.use_count() == 1 && ntHeaders_.addressOfEntryPoint != 0)
        CallEntry(kProcessDetach);
    FreeImportedLibraries();
    Reset();
}

int MemoryLibrary::FreeImportedLibraries() {
    int freed = 0;
    for (const module::ModuleHandle handle : importedLibraries_)
        if (module::FreeHostModule(handle))
            ++freed;
    return freed;
}

void MemoryLibrary::Reset() {
    loaded_ = false;
    imageBase_ = 0;
    entryPoint_ = 0;
    importedLibraries_.clear();
    kind_ = ImageKind::None;
    mappedSize_ = 0;
    memory_.reset();
    sharedObject_.reset();
}

std::uint32_t MemoryLibrary::CallEntry(std::uint32_t reason) const {
    // Without a replacement there is no way to run 32-bit code here: the entry fails.
    if (!entryCall_)
        return 0;
    return entryCall_(entryPoint_, static_cast<std::uint32_t>(memory_->Address()), reason, 0);
}

bool MemoryLibrary::ReadName(std::uintptr_t base, std::uint32_t rva, std::string& name) const {
    if (rva >= mappedSize_)
        return false;
    const auto* start = reinterpret_cast<const char*>(At(base, rva));
    const void* end = std::memchr(start, 0, mappedSize_ - rva);
    if (end == nullptr)
        return false;
    name.assign(start, static_cast<const char*>(end));
    return true;
}

bool MemoryLibrary::InImage(std::uint64_t rva, std::uint64_t length) const {
    return rva + length <= mappedSize_;
}

} // namespace vm::sys
