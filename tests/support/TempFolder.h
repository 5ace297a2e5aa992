#pragma once
// A fresh folder under /tmp for one test, removed afterwards. Its path holds neither "temp" nor
// "local", which the program refuses to run from.

#include <filesystem>
#include <string>

namespace vm::testing {

class TempFolder {
public:
    explicit TempFolder(const std::string& stem = "vm-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as a Windows path text with a trailing "\" (GBK; drive Z: is the root).
    std::string windowsPath() const;
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path& file);
void WriteBytes(const std::filesystem::path& file, const std::string& bytes);

} // namespace vm::testing
