#include "platform/archive/Module.h"

#include "platform/text/Gbk.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace vm::module {
namespace {

constexpr std::uint64_t kFourGiB = std::uint64_t{1} << 32;

std::atomic<std::size_t> liveBlocks{0};

void* MapAnonymous(std::uintptr_t at, std::size_t size, int flags) {
    void* block = mmap(reinterpret_cast<void*>(at), size, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

// MAP_FIXED_NOREPLACE is only a hint on kernels before 4.17; a block elsewhere is given back.
void* MapExactly(std::uintptr_t at, std::size_t size) {
    void* block = MapAnonymous(at, size, MAP_FIXED_NOREPLACE);
    if (block != nullptr && reinterpret_cast<std::uintptr_t>(block) != at) {
        munmap(block, size);
        return nullptr;
    }
    return block;
}

void* MapBelowFourGiB(std::size_t size) {
#ifdef MAP_32BIT
    if (void* block = MapAnonymous(0, size, MAP_32BIT))
        return block;
#endif
    // Without MAP_32BIT, probe the low range the way a 32-bit loader lays out images.
    for (std::uint64_t at = 0x10000000; at + size <= kFourGiB; at += 0x01000000)
        if (void* block = MapExactly(static_cast<std::uintptr_t>(at), size))
            return block;
    return nullptr;
}

struct HostModule {
    std::string name;
    std::vector<HostExport> exports;
    bool resident = false;
    bool registered = true;
    int references = 0;
};

// Handles are positions + 1 in this list. Unregistered modules keep their place, so a stale
// handle never reaches a module registered later.
std::mutex hostMutex;
std::vector<std::unique_ptr<HostModule>> hostModules;

HostModule* ByHandle(ModuleHandle handle) {
    if (handle == 0 || handle > hostModules.size())
        return nullptr;
    HostModule* module = hostModules[handle - 1].get();
    return module->registered ? module : nullptr;
}

ModuleHandle ByName(std::string_view name) {
    for (std::size_t i = 0; i < hostModules.size(); ++i)
        if (hostModules[i]->registered && text::EqualsNoCase(hostModules[i]->name, name))
            return i + 1;
    return 0;
}

// The system loader trusts the file: a segment that claims more bytes than the file holds is
// mapped anyway and faults (SIGBUS) when the loader touches it. Check what it will map first.
bool IsCompleteSharedObject(std::string_view bytes) {
    Elf64_Ehdr header;
    if (bytes.size() < sizeof header)
        return false;
    std::memcpy(&header, bytes.data(), sizeof header);
    const bool native = header.e_ident[EI_CLASS] == ELFCLASS64 &&
                        header.e_ident[EI_DATA] == ELFDATA2LSB &&
                        header.e_ident[EI_VERSION] == EV_CURRENT;
#if defined(__x86_64__)
    const bool machine = header.e_machine == EM_X86_64;
#elif defined(__aarch64__)
    const bool machine = header.e_machine == EM_AARCH64;
#else
    const bool machine = true;
#endif
    if (!native || !machine || header.e_type != ET_DYN || header.e_phentsize != sizeof(Elf64_Phdr))
        return false;
    const std::uint64_t tableEnd =
        std::uint64_t{header.e_phoff} + std::uint64_t{header.e_phnum} * sizeof(Elf64_Phdr);
    if (header.e_phnum == 0 || header.e_phoff > bytes.size() || tableEnd > bytes.size())
        return false;
    for (std::size_t i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr segment;
        std::memcpy(&segment, bytes.data() + header.e_phoff + i * sizeof segment, sizeof segment);
        if (segment.p_type != PT_LOAD && segment.p_type != PT_DYNAMIC)
            continue;
        if (segment.p_offset > bytes.size() || segment.p_filesz > bytes.size() - segment.p_offset ||
            segment.p_filesz > segment.p_memsz)
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<ImageMemory> ImageMemory::Allocate(std::size_t size, std::uint32_t preferredBase) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (size == 0 || size >= kFourGiB)
        return nullptr;
    size = (size + page - 1) / page * page;
    void* block = nullptr;
    if (preferredBase != 0 && preferredBase % page == 0 && preferredBase + size <= kFourGiB)
        block = MapExactly(preferredBase, size);
    if (block == nullptr)
        block = MapBelowFourGiB(size);
    if (block == nullptr)
        return nullptr;
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    if (address + size > kFourGiB) {
        munmap(block, size);
        return nullptr;
    }
    ++liveBlocks;
    return std::unique_ptr<ImageMemory>(new ImageMemory(address, size));
}

ImageMemory::~ImageMemory() {
    munmap(reinterpret_cast<void*>(address_), size_);
    --liveBlocks;
}

std::size_t LiveImageMemoryBlocks() {
    return liveBlocks.load();
}

void RegisterHostModule(std::string_view name, std::vector<HostExport> exports, bool resident) {
    const std::lock_guard lock(hostMutex);
    if (HostModule* old = ByHandle(ByName(name)))
        old->registered = false;
    auto module = std::make_unique<HostModule>();
    module->name = std::string(name);
    module->exports = std::move(exports);
    module->resident = resident;
    hostModules.push_back(std::move(module));
}

void UnregisterHostModule(std::string_view name) {
    const std::lock_guard lock(hostMutex);
    if (HostModule* module = ByHandle(ByName(name)))
        module->registered = false;
}

ModuleHandle FindHostModule(std::string_view name) {
    const std::lock_guard lock(hostMutex);
    const ModuleHandle handle = ByName(name);
    const HostModule* module = ByHandle(handle);
    return module != nullptr && (module->resident || module->references > 0) ? handle : 0;
}

ModuleHandle LoadHostModule(std::string_view name) {
    const std::lock_guard lock(hostMutex);
    const ModuleHandle handle = ByName(name);
    if (HostModule* module = ByHandle(handle)) {
        ++module->references;
        return handle;
    }
    return 0;
}

bool AddHostModuleReference(ModuleHandle handle) {
    const std::lock_guard lock(hostMutex);
    HostModule* module = ByHandle(handle);
    if (module == nullptr || module->references == 0)
        return false;
    ++module->references;
    return true;
}

bool FreeHostModule(ModuleHandle handle) {
    const std::lock_guard lock(hostMutex);
    HostModule* module = ByHandle(handle);
    if (module == nullptr || module->references == 0)
        return false;
    --module->references;
    return true;
}

std::uint32_t HostProcAddress(ModuleHandle handle, std::string_view name) {
    const std::lock_guard lock(hostMutex);
    if (const HostModule* module = ByHandle(handle))
        for (const HostExport& entry : module->exports)
            if (!entry.name.empty() && entry.name == name)
                return entry.address;
    return 0;
}

std::uint32_t HostProcAddressByOrdinal(ModuleHandle handle, std::uint16_t ordinal) {
    const std::lock_guard lock(hostMutex);
    if (const HostModule* module = ByHandle(handle))
        for (const HostExport& entry : module->exports)
            if (entry.ordinal != 0 && entry.ordinal == ordinal)
                return entry.address;
    return 0;
}

int HostModuleReferences(std::string_view name) {
    const std::lock_guard lock(hostMutex);
    const HostModule* module = ByHandle(ByName(name));
    return module != nullptr ? module->references : 0;
}

std::unique_ptr<SharedObject> SharedObject::Load(std::string_view imageBytes) {
    if (!IsCompleteSharedObject(imageBytes))
        return nullptr;
    // No MFD_EXEC: kernels before 6.3 refuse the flag, and memfds are executable without it.
    int fd = memfd_create("vm-library", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return nullptr;
    for (std::size_t done = 0; done < imageBytes.size();) {
        const ssize_t n = write(fd, imageBytes.data() + done, imageBytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return nullptr;
        }
        done += static_cast<std::size_t>(n);
    }
    // Sealed, the bytes the loader maps can no longer change under it.
    fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);

    // The loader knows an object by the name it was opened under. If an earlier object loaded
    // as /proc/self/fd/N is still resident after its descriptor was closed, opening a new one
    // under the same N would hand back the old object; move to a descriptor number no loaded
    // object carries.
    std::string name;
    for (int attempt = 0;; ++attempt) {
        name = "/proc/self/fd/" + std::to_string(fd);
        void* resident = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        if (resident == nullptr)
            break;
        dlclose(resident);
        const int other = attempt < 64 ? fcntl(fd, F_DUPFD_CLOEXEC, fd + 1) : -1;
        close(fd);
        if (other < 0)
            return nullptr;
        fd = other;
    }
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    link_map* map = nullptr;
    if (handle == nullptr || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        if (handle != nullptr)
            dlclose(handle);
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedObject>(new SharedObject(handle, fd, map->l_addr, name));
}

SharedObject::~SharedObject() {
    dlclose(handle_);
    // Kept open until now so that no other object can be loaded under this object's name.
    close(fd_);
}

std::uintptr_t SharedObject::Symbol(std::string_view name) const {
    const std::string symbol(name);
    if (symbol.empty() || symbol.find('\0') != std::string::npos)
        return 0;
    void* address = dlsym(handle_, symbol.c_str());
    if (address == nullptr)
        return 0;
    // dlsym also searches the object's dependencies; only its own definitions are exports.
    Dl_info info{};
    link_map* owner = nullptr;
    if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0)
        return 0;
    link_map* self = nullptr;
    dlinfo(handle_, RTLD_DI_LINKMAP, &self);
    return owner == self ? reinterpret_cast<std::uintptr_t>(address) : 0;
}

} // namespace vm::module
