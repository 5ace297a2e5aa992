#pragma once
// What the in-memory library loader asks of the system: blocks of memory for a mapped 32-bit
// image, the table of host modules that such an image's imports resolve against (standing in
// for GetModuleHandleA, LoadLibraryA, GetProcAddress and FreeLibrary), and native shared
// objects loaded from bytes without a file on disk.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vm::module {

// A zeroed, readable and writable block below 4 GiB, so that its addresses fit the 32-bit
// fields of a PE32 image. It is never executable: 32-bit code cannot run in this process.
class ImageMemory {
public:
    // At `preferredBase` when that range is free, otherwise anywhere below 4 GiB. nullptr when
    // the size is 0 or no room is left.
    static std::unique_ptr<ImageMemory> Allocate(std::size_t size, std::uint32_t preferredBase);

    ~ImageMemory();
    ImageMemory(const ImageMemory&) = delete;
    ImageMemory& operator=(const ImageMemory&) = delete;

    std::uintptr_t Address() const { return address_; }
    std::size_t Size() const { return size_; }

private:
    ImageMemory(std::uintptr_t address, std::size_t size) : address_(address), size_(size) {}

    std::uintptr_t address_;
    std::size_t size_;
};

// Number of ImageMemory blocks alive in the process; tests use it to see that a refused image
// allocated nothing and a failed one gave its block back.
std::size_t LiveImageMemoryBlocks();

// Host modules: the named libraries a mapped image may import from. A resident module is found
// by FindHostModule at once (a library the process already has); any other must first be
// loaded with LoadHostModule, which counts references like LoadLibraryA. Names match without
// regard to ASCII case, as Windows module names do. Export addresses are 32-bit values in the
// image's address space.
using ModuleHandle = std::uintptr_t;

struct HostExport {
    std::string name; // empty for an export reachable by ordinal only
    std::uint16_t ordinal = 0;
    std::uint32_t address = 0;
};

// Adds or replaces the module `name`. Replacing drops its references.
void RegisterHostModule(std::string_view name, std::vector<HostExport> exports, bool resident);
void UnregisterHostModule(std::string_view name);

// Handle of a resident or loaded module, 0 when it is neither.
ModuleHandle FindHostModule(std::string_view name);
// One more reference to a registered module; 0 when no module of that name is registered.
ModuleHandle LoadHostModule(std::string_view name);
// One more reference to a module already held (a copy of a holder of `handle`).
bool AddHostModuleReference(ModuleHandle handle);
// Gives one reference back; false for a handle that holds none.
bool FreeHostModule(ModuleHandle handle);
// 0 when the module or the export is unknown.
std::uint32_t HostProcAddress(ModuleHandle handle, std::string_view name);
std::uint32_t HostProcAddressByOrdinal(ModuleHandle handle, std::uint16_t ordinal);
// References taken with LoadHostModule and not yet given back (0 for an unknown name).
int HostModuleReferences(std::string_view name);

// A native shared object loaded from bytes: the bytes go into an anonymous memory file
// (memfd) that the system loader opens as /proc/self/fd/N. Nothing is written to disk.
class SharedObject {
public:
    // nullptr when the memory file cannot be made or the loader refuses the bytes.
    static std::unique_ptr<SharedObject> Load(std::string_view imageBytes);

    ~SharedObject();
    SharedObject(const SharedObject&) = delete;
    SharedObject& operator=(const SharedObject&) = delete;

    // Address of a symbol the object itself defines; 0 for an unknown name and for symbols
    // that only its dependencies define (the C library's, libarchive's).
    std::uintptr_t Symbol(std::string_view name) const;
    // Load address of the object.
    std::uintptr_t Base() const { return base_; }
    // The name the system loader knows it by ("/proc/self/fd/N").
    const std::string& LoaderName() const { return loaderName_; }

private:
    SharedObject(void* handle, int fd, std::uintptr_t base, std::string loaderName)
        : handle_(handle), fd_(fd), base_(base), loaderName_(std::move(loaderName)) {}

    void* handle_;
    int fd_;
    std::uintptr_t base_;
    std::string loaderName_;
};

} // namespace vm::module
