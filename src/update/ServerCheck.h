#pragma once
// The server check run once when the main window is first activated, and the settings
// window's comparison of program versions.

#include "platform/kernel/Thread.h"

#include <string>
#include <string_view>

namespace vm::update {

constexpr std::string_view kProgramVersion = "1.4 测试版";
// A "版本号" above this means the running program is too old to go on.
inline constexpr double kNewestAcceptedMinimum = 2;
inline constexpr int kAttemptsPerPage = 6;

constexpr std::string_view kTooOldQuestion =
    "您当前使用的版本太低，可能无法正常使用。\r\n是,立即更新\r\n否,关闭程序";
constexpr std::string_view kCatalogueLostMessage =
    "小乖乖,你怎么把数据库弄丢了?\r\n按确定叔叔给你重新下载!";
constexpr std::string_view kCatalogueRepaired = "数据库修复成功,请重新启动程序!";
constexpr std::string_view kCatalogueNotRepaired = "数据库修复失败,程序将无法正常使用!";
constexpr std::string_view kNewestVersionMessage = "当前为最新版本,无需更新!";

// The text shown when neither information page answered.
std::string NoServerInfoMessage();

// Fetches the server information (the primary page up to six times, then the fallback page up
// to six times) and acts on it: too old, newer program, missing catalogue, engine and catalogue
// refresh. Ends the program when nothing could be read, when the user declines the update of a
// program that is too old, and after repairing a missing catalogue. Window changes and message
// boxes go to the GUI thread.
void CheckServerInfo();
// CheckServerInfo on a thread of its own; the main window's first activation starts it.
kernel::Thread StartServerCheck();

// The settings window's "检测程序更新": compares with the document already read.
void CheckProgramVersion();

} // namespace vm::update
