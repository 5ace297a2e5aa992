// MemoryLibrary on real images: i686 DLLs built with mingw-w64 at test time for the PE32 path,
// and the program's embedded archive library for the ELF path.

#include "sys/MemoryLibrary.h"
#include "platform/archive/ArchiveLibrary.h"
#include "platform/archive/Module.h"
#include "support/MingwDll.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>

namespace vm::sys {
namespace {

using module::LiveImageMemoryBlocks;

constexpr std::uint32_t kPreferredBase = 0x10000000;
constexpr std::uint32_t kTickAddress = 0x7C80934A;
constexpr std::uint32_t kAddAddress = 0x6A001000;
constexpr std::uint32_t kNameAddress = 0x6A002000;

// Imports GetTickCount by name from a resident KERNEL32.dll, and from hostlib.dll (which must
// be loaded) HostAdd by ordinal 7 and HostName by name. Exports pointers to its import slots
// and to its own data, so a test can see both relocations and resolved imports.
const char* const kDllSource = R"(
__declspec(dllimport) unsigned __stdcall GetTickCount(void);
__declspec(dllimport) int HostAdd(int, int);
__declspec(dllimport) int HostName(void);
extern void* impTick __asm__("__imp__GetTickCount@0");
extern void* impAdd __asm__("__imp__HostAdd");
extern void* impName __asm__("__imp__HostName");
int value = 42;
int* pointer = &value;
void** tickSlot = &impTick;
void** addSlot = &impAdd;
void** nameSlot = &impName;
int List7z(void) { return HostAdd(1, 2) + HostName(); }
int unpack7z(const char* a, const char* b, int c) { return (int)GetTickCount() + c + (a == b); }
int __stdcall DllEntry(void* h, unsigned r, void* p) { (void)h; (void)r; (void)p; return 1; }
)";

const char* const kDllExports = R"(EXPORTS
  value DATA
  pointer DATA
  tickSlot DATA
  addSlot DATA
  nameSlot DATA
  List7z
  unpack7z
  Forwarded = otherlib.Target
)";

const char* const kHostlibDef =
    "LIBRARY hostlib.dll\nEXPORTS\n  HostAdd @7 NONAME\n  HostName @9\n";
const char* const kKernelDef = "LIBRARY KERNEL32.dll\nEXPORTS\n  GetTickCount@0\n";

struct EntryRecord {
    std::uint32_t base;
    std::uint32_t reason;
};

std::uint32_t Word(std::uintptr_t address) {
    std::uint32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const void*>(address), 4);
    return value;
}

std::uint32_t FileWord(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

void PutFileWord(std::string& bytes, std::size_t offset, std::uint32_t value) {
    std::memcpy(bytes.data() + offset, &value, 4);
}

// Where things are in the fixture's file, read the plain way.
struct FileLayout {
    explicit FileLayout(const std::string& dll) : bytes(dll) {
        nt = FileWord(dll, 60);
        sections = FileWord(dll, nt + 4) >> 16;
    }
    std::size_t DirectoryRva(int index) const { return FileWord(bytes, nt + 120 + 8 * index); }
    std::size_t FileOffset(std::uint32_t rva) const {
        for (std::size_t i = 0; i < sections; ++i) {
            const std::size_t header = nt + 248 + 40 * i;
            const std::uint32_t va = FileWord(bytes, header + 12);
            const std::uint32_t raw = FileWord(bytes, header + 16);
            if (rva >= va && rva < va + raw)
                return FileWord(bytes, header + 20) + (rva - va);
        }
        return 0;
    }
    const std::string& bytes;
    std::size_t nt = 0;
    std::size_t sections = 0;
};

// End of the last section's raw data in the file.
std::size_t RawDataEnd(const std::string& dll) {
    const FileLayout layout(dll);
    std::size_t end = 0;
    for (std::size_t i = 0; i < layout.sections; ++i) {
        const std::size_t header = layout.nt + 248 + 40 * i;
        end = std::max<std::size_t>(end, FileWord(dll, header + 20) + FileWord(dll, header + 16));
    }
    return end;
}

class PeLoaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!testing::MingwAvailable())
            return;
        const vm::testing::TempFolder work("vm-mingw");
        testing::MingwDllSpec spec;
        spec.cSource = kDllSource;
        spec.exportsDef = kDllExports;
        spec.importDefs = {kHostlibDef, kKernelDef};
        dll_ = new std::string(testing::BuildMingwDll(work.path(), spec));
        spec.entry.clear();
        noEntryDll_ = new std::string(testing::BuildMingwDll(work.path(), spec));
    }
    static void TearDownTestSuite() {
        delete dll_;
        delete noEntryDll_;
        dll_ = noEntryDll_ = nullptr;
    }

    void SetUp() override {
        if (dll_ == nullptr || dll_->empty())
            GTEST_SKIP() << "i686-w64-mingw32-gcc is not installed";
        module::RegisterHostModule("KERNEL32.dll", {{"GetTickCount", 0, kTickAddress}}, true);
        module::RegisterHostModule("hostlib.dll",
                                   {{"", 7, kAddAddress}, {"HostName", 9, kNameAddress}}, false);
        blocksBefore_ = LiveImageMemoryBlocks();
    }
    void TearDown() override {
        module::UnregisterHostModule("KERNEL32.dll");
        module::UnregisterHostModule("hostlib.dll");
    }

    // A library whose entry answers `result` and records every call.
    MemoryLibrary Library(std::uint32_t result = 1) {
        MemoryLibrary library;
        library.SetEntryCall([this, result](std::uintptr_t entry, std::uint32_t base,
                                            std::uint32_t reason, std::uint32_t reserved) {
            EXPECT_EQ(reserved, 0u);
            EXPECT_EQ(entry - base, Word(base + Word(base + 60) + 40)) << "entry = base + RVA";
            calls_.push_back({base, reason});
            return reason == 1 ? result : 1u;
        });
        return library;
    }

    static std::string* dll_;
    static std::string* noEntryDll_;
    std::vector<EntryRecord> calls_;
    std::size_t blocksBefore_ = 0;
};

std::string* PeLoaderTest::dll_ = nullptr;
std::string* PeLoaderTest::noEntryDll_ = nullptr;

TEST_F(PeLoaderTest, MapsAtThePreferredBaseWithRelocationsAsNoOp) {
    MemoryLibrary library = Library();
    ASSERT_TRUE(library.LoadFromMemory(*dll_));
    const std::uintptr_t base = library.ImageBase();
    EXPECT_EQ(base, kPreferredBase);
    EXPECT_EQ(library.Kind(), ImageKind::Pe32);
    ASSERT_EQ(calls_.size(), 1u);
    EXPECT_EQ(calls_[0].base, kPreferredBase);
    EXPECT_EQ(calls_[0].reason, 1u);

    // Every section other than the import table is byte for byte as in the file.
    for (const SectionHeader& section : library.Sections()) {
        if (std::string(section.name.data(), 6) == ".idata")
            continue;
        EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(base + section.virtualAddress),
                              dll_->data() + section.pointerToRawData, section.sizeOfRawData),
                  0)
            << section.name.data();
    }
    EXPECT_EQ(Word(library.GetExport("pointer")), library.GetExport("value"));
    EXPECT_EQ(Word(library.GetExport("value")), 42u);
}

TEST_F(PeLoaderTest, RelocatesWhenThePreferredBaseIsTaken) {
    MemoryLibrary first = Library();
    ASSERT_TRUE(first.LoadFromMemory(*dll_));
    MemoryLibrary second = Library();
    ASSERT_TRUE(second.LoadFromMemory(*dll_));
    const std::uintptr_t base = second.ImageBase();
    ASSERT_NE(base, kPreferredBase);
    ASSERT_LT(base, std::uintptr_t{1} << 32);
    EXPECT_EQ(calls_.back().base, base);

    EXPECT_EQ(Word(second.GetExport("pointer")), second.GetExport("value"));
    EXPECT_EQ(Word(first.GetExport("pointer")), first.GetExport("value"));
    EXPECT_EQ(Word(Word(second.GetExport("tickSlot"))), kTickAddress);
    // The mapped header names its real base, as the system loader leaves it.
    EXPECT_EQ(Word(base + second.Dos().newHeaderOffset + 52), base);
}

TEST_F(PeLoaderTest, ResolvesImportsByNameAndOrdinal) {
    MemoryLibrary library = Library();
    ASSERT_TRUE(library.LoadFromMemory(*dll_));
    EXPECT_EQ(Word(Word(library.GetExport("tickSlot"))), kTickAddress);
    EXPECT_EQ(Word(Word(library.GetExport("addSlot"))), kAddAddress);
    EXPECT_EQ(Word(Word(library.GetExport("nameSlot"))), kNameAddress);
    // KERNEL32.dll was resident; hostlib.dll had to be loaded and is held once.
    EXPECT_EQ(library.ImportedLibraryCount(), 1u);
    EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 1);
    library.Unload();
    EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0);
    EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_);
}

TEST_F(PeLoaderTest, FindsExportsByExactNameOnly) {
    MemoryLibrary library = Library();
    ASSERT_TRUE(library.LoadFromMemory(*dll_));
    const std::uintptr_t base = library.ImageBase();
    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"List7z", true},  {"unpack7z", true}, {"list7z", false}, {"LIST7Z", false},
        {"List7", false},  {"List7z ", false}, {"", false},       {"Forwarded", false},
        {"Target", false}, {"Missing", false},
    };
    for (const auto& c : cases) {
        const std::uintptr_t address = library.GetExport(c.name);
        EXPECT_EQ(address != 0, c.found) << c.name;
        if (c.found) {
            EXPECT_GT(address, base) << c.name;
            EXPECT_LT(address, base + 0x10000) << c.name;
        }
    }
}

TEST_F(PeLoaderTest, EntryResultOtherThanOneUndoesTheLoad) {
    for (const std::uint32_t result : {0u, 2u, 0xFFFFFFFFu}) {
        calls_.clear();
        MemoryLibrary library = Library(result);
        EXPECT_FALSE(library.LoadFromMemory(*dll_)) << result;
        EXPECT_FALSE(library.IsLoaded());
        EXPECT_EQ(library.ImageBase(), 0u);
        EXPECT_EQ(library.GetExport("List7z"), 0u);
        ASSERT_EQ(calls_.size(), 2u) << result;
        EXPECT_EQ(calls_[0].reason, 1u);
        EXPECT_EQ(calls_[1].reason, 0u);
        EXPECT_EQ(calls_[1].base, calls_[0].base);
        EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_) << result;
        EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0) << result;
    }
}

TEST_F(PeLoaderTest, WithoutAnEntryCallNoPeImageLoads) {
    MemoryLibrary library; // the default cannot run 32-bit code
    EXPECT_FALSE(library.LoadFromMemory(*dll_));
    EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_);
    EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0);

    // An image without an entry point has nothing to run.
    MemoryLibrary noEntry;
    ASSERT_TRUE(noEntry.LoadFromMemory(*noEntryDll_));
    EXPECT_NE(noEntry.GetExport("List7z"), 0u);
}

TEST_F(PeLoaderTest, FailedImportsUndoTheLoad) {
    const struct {
        const char* what;
        std::function<void()> breakHost;
    } cases[] = {
        {"library missing", [] { module::UnregisterHostModule("hostlib.dll"); }},
        {"name missing",
         [] {
             module::RegisterHostModule("hostlib.dll", {{"", 7, kAddAddress}}, false);
         }},
        {"ordinal missing",
         [] {
             module::RegisterHostModule("hostlib.dll", {{"HostName", 9, kNameAddress}}, false);
         }},
        {"resident library missing", [] { module::UnregisterHostModule("KERNEL32.dll"); }},
    };
    for (const auto& c : cases) {
        SetUp();
        c.breakHost();
        calls_.clear();
        MemoryLibrary library = Library();
        EXPECT_FALSE(library.LoadFromMemory(*dll_)) << c.what;
        EXPECT_TRUE(calls_.empty()) << c.what;
        EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_) << c.what;
        EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0) << c.what;
    }
}

TEST_F(PeLoaderTest, RefusesBadHeadersWithoutAllocating) {
    const std::string& dll = *dll_;
    const std::size_t nt = FileWord(dll, 60);
    auto patched = [&](std::size_t offset, std::uint32_t value, int width) {
        std::string bytes = dll;
        std::memcpy(bytes.data() + offset, &value, static_cast<std::size_t>(width));
        return bytes;
    };
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"63 bytes", dll.substr(0, 63)},
        {"no MZ", patched(0, 0x5A4E, 2)},
        {"e_lfanew + 248 past the end", dll.substr(0, nt + 247)},
        {"e_lfanew far out", patched(60, 0xFFFFFFF0, 4)},
        {"no PE signature", patched(nt, 0x4551, 4)},
        {"EXE image", patched(nt + 22, 0x0106, 2)},
        {"not executable", patched(nt + 22, 0x2104, 2)},
        {"PE32+ optional header", patched(nt + 20, 0xF0, 2)},
        {"section raw data past the end", dll.substr(0, RawDataEnd(dll) - 1)},
        {"section table past the end", patched(nt + 6, 0xFFFF, 2)},
        {"section alignment 0", patched(nt + 56, 0, 4)},
        {"image size beyond reason", patched(nt + 248 + 8, 0x7FFFFFFF, 4)},
        {"entry point outside the image", patched(nt + 40, 0x00F00000, 4)},
        {"ELF magic with garbage", std::string("\x7f"
                                               "ELF",
                                               4) +
                                       std::string(200, 'x')},
    };
    for (const auto& c : cases) {
        MemoryLibrary library = Library();
        EXPECT_FALSE(library.LoadFromMemory(c.bytes)) << c.what;
        EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_) << c.what;
        EXPECT_TRUE(calls_.empty()) << c.what;
        EXPECT_EQ(library.GetExport("List7z"), 0u) << c.what;
    }
}

TEST_F(PeLoaderTest, RefusesDamagedTablesAfterMapping) {
    const FileLayout layout(*dll_);
    const std::size_t relocations = layout.FileOffset(layout.DirectoryRva(5));
    const std::size_t imports = layout.FileOffset(layout.DirectoryRva(1));
    ASSERT_NE(relocations, 0u);
    ASSERT_NE(imports, 0u);
    const struct {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    } cases[] = {
        {"relocation block shorter than its header", relocations + 4, 6},
        {"relocation block past the directory", relocations + 4, 0x100000},
        {"relocation target outside the image", relocations, 0x00FFF000},
        {"import library name outside the image", imports + 12, 0x7FFFFFF0},
        {"import slots outside the image", imports + 16, 0x7FFFFFF0},
    };
    for (const auto& c : cases) {
        std::string bytes = *dll_;
        PutFileWord(bytes, c.offset, c.value);
        MemoryLibrary library = Library();
        // Mapped away from the preferred base, so that the relocations are walked for real.
        MemoryLibrary holder = Library();
        ASSERT_TRUE(holder.LoadFromMemory(*dll_));
        calls_.clear();
        EXPECT_FALSE(library.LoadFromMemory(bytes)) << c.what;
        EXPECT_TRUE(calls_.empty()) << c.what;
        holder.Unload();
        EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_) << c.what;
        EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0) << c.what;
    }
}

TEST_F(PeLoaderTest, DamagedExportTableFindsNothing) {
    const FileLayout layout(*dll_);
    const std::size_t exports = layout.FileOffset(layout.DirectoryRva(0));
    ASSERT_NE(exports, 0u);
    const struct {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    } cases[] = {
        {"function table outside", exports + 28, 0x7FFFFFF0},
        {"name table outside", exports + 32, 0x7FFFFFF0},
        {"ordinal table outside", exports + 36, 0x7FFFFFF0},
        {"huge name count", exports + 24, 0x40000000},
        {"no functions", exports + 20, 0},
    };
    for (const auto& c : cases) {
        std::string bytes = *dll_;
        PutFileWord(bytes, c.offset, c.value);
        MemoryLibrary library = Library();
        ASSERT_TRUE(library.LoadFromMemory(bytes)) << c.what;
        EXPECT_EQ(library.GetExport("List7z"), 0u) << c.what;
    }
}

TEST_F(PeLoaderTest, CopiesShareTheImageUntilTheLastOneGoes) {
    auto original = std::make_unique<MemoryLibrary>(Library());
    ASSERT_TRUE(original->LoadFromMemory(*dll_));
    const std::uintptr_t base = original->ImageBase();
    {
        const MemoryLibrary copy(*original);
        EXPECT_EQ(copy.ImageBase(), base);
        EXPECT_EQ(copy.GetExport("List7z"), original->GetExport("List7z"));
        EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 2);
        original.reset();
        EXPECT_EQ(calls_.size(), 1u) << "no detach while a copy holds the image";
        EXPECT_EQ(Word(copy.GetExport("value")), 42u);
    }
    ASSERT_EQ(calls_.size(), 2u);
    EXPECT_EQ(calls_[1].reason, 0u);
    EXPECT_EQ(calls_[1].base, base);
    EXPECT_EQ(module::HostModuleReferences("hostlib.dll"), 0);
    EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_);
}

TEST_F(PeLoaderTest, SecondLoadOnALoadedObjectIsRefused) {
    MemoryLibrary library = Library();
    ASSERT_TRUE(library.LoadFromMemory(*dll_));
    const std::uintptr_t list7z = library.GetExport("List7z");
    EXPECT_FALSE(library.LoadFromMemory(*dll_));
    EXPECT_EQ(library.GetExport("List7z"), list7z);
    EXPECT_EQ(LiveImageMemoryBlocks(), blocksBefore_ + 1);
}

TEST(AlignUpTest, RoundsUpToTheAlignment) {
    const MemoryLibrary library;
    const struct {
        std::uint32_t value, alignment, expected;
    } cases[] = {
        {0, 0x1000, 0}, {1, 0x1000, 0x1000}, {0x1000, 0x1000, 0x1000}, {0x1001, 0x1000, 0x2000},
        {5, 3, 6},      {7, 0, 0},           {0xFFFFFFFF, 0x1000, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(library.AlignUp(c.value, c.alignment), c.expected)
            << c.value << " " << c.alignment;
}

// ELF: the program's archive library, from the bytes built into this executable.

int OpenDescriptors() {
    int count = 0;
    if (DIR* listing = opendir("/proc/self/fd")) {
        while (readdir(listing) != nullptr)
            ++count;
        closedir(listing);
    }
    return count;
}

std::string MappingOf(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const std::uintptr_t from = std::stoull(line.substr(0, line.find('-')), nullptr, 16);
        const std::uintptr_t to = std::stoull(line.substr(line.find('-') + 1), nullptr, 16);
        if (address >= from && address < to)
            return line;
    }
    return {};
}

TEST(ElfLoaderTest, LoadsTheEmbeddedLibraryFromMemory) {
    const std::string image(archive::BuiltinArchiveLibraryImage());
    ASSERT_GT(image.size(), 1000u);
    MemoryLibrary library;
    ASSERT_TRUE(library.LoadFromMemory(image));
    EXPECT_EQ(library.Kind(), ImageKind::Elf);
    EXPECT_NE(library.ImageBase(), 0u);

    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"unpack7z", true},
        {"List7z", true},
        {"list7z", false},
        {"Unpack7z", false},
        {"", false},
        {"archive_read_new", false},
        {"malloc", false},
        {"_ZN2vm2fs11ToLinuxPathESt17basic_string_viewIcSt11char_traitsIcEE", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(library.GetExport(c.name) != 0, c.found) << c.name;

    // The code runs from the anonymous memory file, not from the library built beside us.
    const std::string mapping = MappingOf(library.GetExport("unpack7z"));
    EXPECT_NE(mapping.find("/memfd:vm-library"), std::string::npos) << mapping;
    std::ifstream maps("/proc/self/maps");
    const std::string all((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all.find(VM_ARCHIVE_LIBRARY_FILE), std::string::npos);
}

TEST(ElfLoaderTest, LoadsSideBySideAndAgainAfterUnloading) {
    const std::string image(archive::BuiltinArchiveLibraryImage());
    const int descriptors = OpenDescriptors();
    for (int round = 0; round < 3; ++round) {
        MemoryLibrary first;
        MemoryLibrary second;
        ASSERT_TRUE(first.LoadFromMemory(image));
        ASSERT_TRUE(second.LoadFromMemory(image));
        EXPECT_NE(first.ImageBase(), second.ImageBase());
        EXPECT_NE(first.GetExport("unpack7z"), second.GetExport("unpack7z"));
        const MemoryLibrary copy(first);
        EXPECT_EQ(copy.GetExport("unpack7z"), first.GetExport("unpack7z"));
    }
    EXPECT_EQ(OpenDescriptors(), descriptors);

    MemoryLibrary damaged;
    EXPECT_FALSE(damaged.LoadFromMemory(image.substr(0, image.size() / 3)));
    EXPECT_FALSE(damaged.IsLoaded());
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

} // namespace
} // namespace vm::sys
