#pragma once
// The program's folder and its settings file set\Start.ini (section "主窗口").

#include <string>
#include <string_view>

namespace vm::sys {

// The executable's folder as a Windows path text with a trailing "\"; set once at start-up.
const std::string& ProgramFolder();
void SetProgramFolder(std::string folder);

struct DownloadSettings {
    bool viaEngine = false;        // "下载方式": through the download engine, else the web page
    bool openFolderAfter = false;  // "下载打开"
    bool closeDialogAfter = false; // "下载关闭"
};

// The program-wide record, zeroed until LoadDownloadSettings fills it.
DownloadSettings& CurrentDownloadSettings();

std::string SettingsFilePath();
std::string ReadSetting(std::string_view key);
bool WriteSetting(std::string_view key, std::string_view value);

// Writes the three download keys in their fixed order, "1" or "0" each.
void WriteDownloadSettings(bool viaEngine, bool openFolderAfter, bool closeDialogAfter);
void LoadDownloadSettings();

// A decimal number the way Val reads one: leading blanks, a sign, digits and one fraction;
// whatever follows is ignored and text that does not start as a number gives 0.
double ParseLeadingNumber(std::string_view text);

} // namespace vm::sys
