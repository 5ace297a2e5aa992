#pragma once
// Loads a library from a byte array and looks up its exports, never reading it from disk.
//
// Two kinds of image stand behind the one interface:
// - a 32-bit Windows DLL (PE32), mapped by hand the way the system loader would: headers,
//   sections, base relocations, imports resolved against the host modules of
//   platform/archive/Module.h, and its entry point. 32-bit code cannot run in this process, so
//   the entry point is called through a replaceable EntryCall; the default one refuses, which
//   makes loading such an image fail unless its AddressOfEntryPoint is 0.
// - a native ELF shared object, handed to the system loader through an anonymous memory file.
//   The program's own archive library is one.
//
// Every field read from an image is checked against the image's bounds: a damaged or hostile
// image is refused, never followed outside its own memory.

#include "platform/archive/Module.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vm::sys {

struct DataDirectory {
    std::uint32_t virtualAddress = 0;
    std::uint32_t size = 0;
};

// The fields of the 64-byte MS-DOS header that the loader uses.
struct DosHeader {
    std::uint16_t magic = 0;           // e_magic, "MZ"
    std::uint32_t newHeaderOffset = 0; // e_lfanew
};

// Signature, file header and PE32 optional header (248 bytes in the file).
struct NtHeaders {
    std::uint32_t signature = 0;
    std::uint16_t machine = 0;
    std::uint16_t numberOfSections = 0;
    std::uint32_t timeDateStamp = 0;
    std::uint16_t sizeOfOptionalHeader = 0;
    std::uint16_t characteristics = 0;
    std::uint16_t optionalMagic = 0;
    std::uint32_t addressOfEntryPoint = 0;
    std::uint32_t imageBase = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t numberOfRvaAndSizes = 0;
    std::array<DataDirectory, 16> dataDirectories{};
};

// A 40-byte section header.
struct SectionHeader {
    std::array<char, 8> name{};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;
};

enum class ImageKind { None, Pe32, Elf };

class MemoryLibrary {
public:
    // Calls a PE32 image's entry point as a DLL entry: (entry address, image base, reason
    // 1 = attach / 0 = detach, reserved 0). Gives the entry's 32-bit result.
    using EntryCall = std::function<std::uint32_t(std::uintptr_t entry, std::uint32_t base,
                                                  std::uint32_t reason, std::uint32_t reserved)>;

    // Data directory indexes.
    static constexpr int kExportDirectory = 0;
    static constexpr int kImportDirectory = 1;
    static constexpr int kRelocationDirectory = 5;

    MemoryLibrary();
    // Slot 0: unloads a loaded image.
    virtual ~MemoryLibrary();
    // Slot 1: a copy shares the loaded image (one more reference to it and to every library
    // it imported); the image is unloaded when its last holder unloads.
    MemoryLibrary(const MemoryLibrary& source);
    MemoryLibrary& operator=(const MemoryLibrary& source);
    virtual void CopyFrom(const MemoryLibrary& source);

    // Maps the image and runs its entry point; false (with nothing left allocated) when the
    // image is refused or its imports or entry point fail. Do not call it on a loaded object.
    virtual bool LoadFromMemory(const std::string& imageBytes);
    // Address of the named export (case-sensitive), 0 when missing or forwarded.
    virtual std::uintptr_t GetExport(std::string_view name) const;
    // Adds the distance from the preferred base to every HIGHLOW relocation target; false for a
    // relocation block or target outside the image.
    virtual bool ApplyRelocations(std::uintptr_t base);
    virtual bool ResolveImports(std::uintptr_t base);
    virtual bool ParseHeaders(const unsigned char* data, std::size_t length);
    // The smallest multiple of `alignment` not below `value`; 0 for alignment 0 or overflow.
    virtual std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) const;
    // Bytes to reserve for the image, 0 when the headers describe no sound image.
    virtual std::uint32_t ImageSize() const;
    // Copies headers and sections to `base` (which holds ImageSize() zeroed bytes) and reads the
    // header records back from there. `data` is the array ParseHeaders accepted.
    virtual void MapImage(std::uintptr_t base, const unsigned char* data);
    virtual void Unload();
    // Gives back every library ResolveImports loaded; the number given back.
    virtual int FreeImportedLibraries();
    virtual void Reset();

    // Replaces how PE32 entry points are called (tests, or a host that can run such code).
    void SetEntryCall(EntryCall call) { entryCall_ = std::move(call); }

    bool IsLoaded() const { return loaded_; }
    ImageKind Kind() const { return kind_; }
    std::uintptr_t ImageBase() const { return imageBase_; }
    std::uintptr_t EntryPoint() const { return entryPoint_; }
    std::size_t ImportedLibraryCount() const { return importedLibraries_.size(); }
    const DosHeader& Dos() const { return dosHeader_; }
    const NtHeaders& Nt() const { return ntHeaders_; }
    const std::vector<SectionHeader>& Sections() const { return sections_; }

private:
    bool LoadElf(const std::string& imageBytes);
    std::uint32_t CallEntry(std::uint32_t reason) const;
    // The text at `rva` when it ends inside the image.
    bool ReadName(std::uintptr_t base, std::uint32_t rva, std::string& name) const;
    bool InImage(std::uint64_t rva, std::uint64_t length) const;

    bool loaded_ = false;
    ImageKind kind_ = ImageKind::None;
    std::uintptr_t imageBase_ = 0;
    std::uintptr_t entryPoint_ = 0;
    DosHeader dosHeader_;
    NtHeaders ntHeaders_;
    std::vector<SectionHeader> sections_;
    std::vector<module::ModuleHandle> importedLibraries_;
    std::uint32_t mappedSize_ = 0;
    std::size_t parsedLength_ = 0;

    EntryCall entryCall_;
    // Shared with copies; the block or object goes when its last holder lets it go.
    std::shared_ptr<module::ImageMemory> memory_;
    std::shared_ptr<module::SharedObject> sharedObject_;
};

} // namespace vm::sys
