#include "sys/Settings.h"

#include "platform/fs/Profile.h"

namespace vm::sys {
namespace {

constexpr std::string_view kSection = "主窗口";
constexpr std::string_view kViaEngine = "下载方式";
constexpr std::string_view kOpenFolderAfter = "下载打开";
constexpr std::string_view kCloseDialogAfter = "下载关闭";

std::string& Folder() {
    static std::string folder;
    return folder;
}

bool IsOne(std::string_view text) {
    return ParseLeadingNumber(text) == 1.0;
}

} // namespace

const std::string& ProgramFolder() {
    return Folder();
}

void SetProgramFolder(std::string folder) {
    Folder() = std::move(folder);
}

DownloadSettings& CurrentDownloadSettings() {
    static DownloadSettings settings;
    return settings;
}

std::string SettingsFilePath() {
    return ProgramFolder() + "set\\Start.ini";
}

std::string ReadSetting(std::string_view key) {
    return fs::ReadProfileString(SettingsFilePath(), kSection, key, "");
}

bool WriteSetting(std::string_view key, std::string_view value) {
    return fs::WriteProfileString(SettingsFilePath(), kSection, key, value);
}

void WriteDownloadSettings(bool viaEngine, bool openFolderAfter, bool closeDialogAfter) {
    WriteSetting(kViaEngine, viaEngine ? "1" : "0");
    WriteSetting(kOpenFolderAfter, openFolderAfter ? "1" : "0");
    WriteSetting(kCloseDialogAfter, closeDialogAfter ? "1" : "0");
}

void LoadDownloadSettings() {
    DownloadSettings& settings = CurrentDownloadSettings();
    settings.viaEngine = IsOne(ReadSetting(kViaEngine));
    settings.openFolderAfter = IsOne(ReadSetting(kOpenFolderAfter));
    settings.closeDialogAfter = IsOne(ReadSetting(kCloseDialogAfter));
}

double ParseLeadingNumber(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    double sign = 1.0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        sign = text[at] == '-' ? -1.0 : 1.0;
        ++at;
    }
    double value = 0.0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = value * 10.0 + (text[at] - '0');
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10.0)
            value += (text[at] - '0') * scale;
    }
    return sign * value;
}

} // namespace vm::sys
