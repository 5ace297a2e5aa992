#pragma once
// A fresh folder under /tmp whose name holds blanks and Chinese, removed with everything in it.

#include "platform/fs/Path.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace vm::fs::testing {

inline std::string Utf8(std::u8string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = Utf8(u8"/tmp/vm fs \u6D4B\u8BD5 XXXXXX");
        native_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
        windows_ = FromLinuxPath(native_) + "\\";
    }
    ~ScratchFolder() {
        // Read-only entries left by a failed test must not keep the folder alive.
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(native_, error);
             it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(native_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // `name` is a GBK path text relative to the folder; the result is its Windows path text.
    std::string operator/(std::string_view name) const { return windows_ + std::string(name); }
    const std::string& windows() const { return windows_; }
    const std::string& native() const { return native_; }

private:
    std::string native_;
    std::string windows_;
};

} // namespace vm::fs::testing
