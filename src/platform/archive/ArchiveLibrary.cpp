#include "platform/archive/ArchiveLibrary.h"

#include <cstddef>

extern const unsigned char vm_archive_library_image[];
extern const std::size_t vm_archive_library_image_size;

namespace vm::archive {

std::string_view BuiltinArchiveLibraryImage() {
    return {reinterpret_cast<const char*>(vm_archive_library_image), vm_archive_library_image_size};
}

} // namespace vm::archive
