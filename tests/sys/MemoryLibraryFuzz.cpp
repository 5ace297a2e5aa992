// libFuzzer target: MemoryLibrary's header checks, mapping, relocations, imports and export
// lookup on arbitrary bytes. An input starting with "M" is taken as the image itself; any
// other input is a list of byte patches (offset low, offset high, value) applied to a small
// well-formed DLL, so that the fuzzer reaches the tables behind the headers at once.

#include "platform/archive/Module.h"
#include "sys/MemoryLibrary.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

void Put16(std::string& image, std::size_t offset, std::uint16_t value) {
    std::memcpy(image.data() + offset, &value, 2);
}

void Put32(std::string& image, std::size_t offset, std::uint32_t value) {
    std::memcpy(image.data() + offset, &value, 4);
}

void PutText(std::string& image, std::size_t offset, const char* text) {
    std::memcpy(image.data() + offset, text, std::strlen(text) + 1);
}

// One section (.text, RVA 0x1000, file offset 0x200) holding an export directory with a plain
// and a forwarded export, an import of host.dll by name and by ordinal, and a relocation block.
std::string TemplateDll() {
    std::string image(0x600, '\0');
    const std::size_t nt = 0x40;
    const auto file = [](std::uint32_t rva) { return rva - 0x1000 + 0x200; };
    Put16(image, 0, 0x5A4D);
    Put32(image, 60, nt);
    Put32(image, nt, 0x4550);
    Put16(image, nt + 4, 0x014C);
    Put16(image, nt + 6, 1);
    Put16(image, nt + 20, 0xE0);
    Put16(image, nt + 22, 0x2102);
    Put16(image, nt + 24, 0x010B);
    Put32(image, nt + 40, 0x1000);     // entry
    Put32(image, nt + 52, 0x10000000); // preferred base
    Put32(image, nt + 56, 0x1000);     // section alignment
    Put32(image, nt + 60, 0x200);      // file alignment
    Put32(image, nt + 80, 0x2000);     // size of image
    Put32(image, nt + 84, 0x200);      // size of headers
    Put32(image, nt + 116, 16);
    Put32(image, nt + 120, 0x1100); // exports
    Put32(image, nt + 124, 0x100);
    Put32(image, nt + 128, 0x1200); // imports
    Put32(image, nt + 132, 0x60);
    Put32(image, nt + 160, 0x1300); // relocations
    Put32(image, nt + 164, 0x10);
    const std::size_t section = nt + 248;
    std::memcpy(image.data() + section, ".text", 5);
    Put32(image, section + 8, 0x1000);
    Put32(image, section + 12, 0x1000);
    Put32(image, section + 16, 0x400);
    Put32(image, section + 20, 0x200);

    Put32(image, file(0x1000), 0xC3C3C3C3);
    Put32(image, file(0x1004), 0x10001000); // relocated
    Put32(image, file(0x1008), 0x10001100); // relocated
    Put32(image, file(0x1100) + 20, 2);
    Put32(image, file(0x1100) + 24, 2);
    Put32(image, file(0x1100) + 28, 0x1140);
    Put32(image, file(0x1100) + 32, 0x1148);
    Put32(image, file(0x1100) + 36, 0x1150);
    Put32(image, file(0x1140), 0x1000);
    Put32(image, file(0x1144), 0x1170);
    Put32(image, file(0x1148), 0x1160);
    Put32(image, file(0x114C), 0x1168);
    Put16(image, file(0x1150), 0);
    Put16(image, file(0x1152), 1);
    PutText(image, file(0x1160), "List7z");
    PutText(image, file(0x1168), "Fwd");
    PutText(image, file(0x1170), "other.Target");
    Put32(image, file(0x1200) + 12, 0x1240);
    Put32(image, file(0x1200) + 16, 0x1250);
    PutText(image, file(0x1240), "host.dll");
    Put32(image, file(0x1250), 0x1260);
    Put32(image, file(0x1254), 0x80000005);
    PutText(image, file(0x1262), "Func");
    Put32(image, file(0x1300), 0x1000);
    Put32(image, file(0x1304), 12);
    Put16(image, file(0x1308), 0x3004);
    Put16(image, file(0x130A), 0x3008);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string dll = [] {
        vm::module::RegisterHostModule("host.dll", {{"Func", 0, 0x70001000}, {"", 5, 0x70002000}},
                                       false);
        return TemplateDll();
    }();
    std::string image;
    if (size > 0 && data[0] == 'M') {
        image.assign(reinterpret_cast<const char*>(data), size);
    } else {
        image = dll;
        for (std::size_t i = 0; i + 3 <= size; i += 3)
            image[(data[i] | data[i + 1] << 8) % image.size()] = static_cast<char>(data[i + 2]);
    }

    // Fuzz bytes never reach the system loader: an ELF image would run its own code.
    if (image.compare(0, 4,
                      "\x7f"
                      "ELF") == 0)
        return 0;

    vm::sys::MemoryLibrary library;
    library.SetEntryCall(
        [](std::uintptr_t, std::uint32_t, std::uint32_t, std::uint32_t) { return 1u; });
    if (library.LoadFromMemory(image))
        for (const char* name : {"List7z", "Fwd", "Func", "", "list7z"})
            library.GetExport(name);
    return 0;
}
