#pragma once
// Browser targets as the logic gives them (Windows path texts or addresses, GBK) turned into
// what Linux and the toolkits take (UTF-8).

#include <string>
#include <string_view>

namespace vm::gui::detail {

// True for "scheme:..." with a scheme of two or more letters; "Z:\..." is a drive.
bool HasScheme(std::string_view target);

// "Z:\home\a\b.htm" -> "/home/a/b.htm" in UTF-8. Drive Z: is the root; a path without a drive
// stays relative. Walks whole characters so a GBK trail byte 0x5C is never taken for "\".
std::string LinuxPath(std::string_view windowsPath);

// The reverse, for addresses the browser reports: "/home/a" -> "Z:\home\a" (GBK).
std::string WindowsPath(std::string_view linuxPath);

} // namespace vm::gui::detail
