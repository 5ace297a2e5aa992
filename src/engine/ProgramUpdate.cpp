#include "engine/ProgramUpdate.h"

#include "engine/platform/FileMode.h"
#include "platform/fs/File.h"
#include "platform/kernel/MessageEndpoint.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Thread.h"
#include "sys/Archive.h"
#include "sys/Process.h"

namespace vm::engine {
namespace {

constexpr std::uint32_t kWmClose = 16;

// Waits up to `ms` for every process named `name` to end.
bool WaitForEnd(const std::string& name, int ms) {
    for (int waited = 0; sys::ProcessExists(name); waited += 100) {
        if (waited >= ms)
            return false;
        kernel::Sleep(100);
    }
    return true;
}

void EndRunningProgram(const UpdatePlan& plan) {
    if (kernel::ClassExists(plan.windowClass))
        kernel::PostMessageToClass(plan.windowClass, {kWmClose, 0, 0});
    if (WaitForEnd(plan.programFile, plan.closeWaitMs))
        return;
    // A program that did not close (a question left unanswered, a hung window) would keep
    // the old version running beside the new files.
    for (int i = 0; i < 20 && sys::TerminateProcessByName(plan.programFile); ++i)
        WaitForEnd(plan.programFile, 1000);
}

} // namespace

bool RemoveTree(const std::string& folder) {
    for (std::string name = fs::FindFirstFile(folder + "*"); !name.empty();
         name = fs::FindFirstFile(folder + "*")) {
        const std::string path = folder + name;
        if (!(fs::IsFolder(path) ? RemoveTree(path + "\\") : fs::DeleteFile(path)))
            return false;
    }
    return !fs::IsFolder(folder) || fs::RemoveFolder(folder);
}

bool MoveEntries(const std::string& from, const std::string& to) {
    for (std::string name = fs::FindFirstFile(from + "*"); !name.empty();
         name = fs::FindFirstFile(from + "*")) {
        const std::string source = from + name;
        const std::string target = to + name;
        bool moved = false;
        if (fs::IsFolder(source) && fs::IsFolder(target))
            moved = MoveEntries(source + "\\", target + "\\") && fs::RemoveFolder(source);
        else if (!fs::IsFolder(target))
            moved = fs::MoveFile(source, target);
        if (!moved)
            return false;
    }
    return true;
}

UpdateOutcome ApplyProgramUpdate(const UpdatePlan& plan) {
    const std::string scratch = plan.programFolder + "~main.7z\\";
    const auto finish = [&](bool ok, std::string message) {
        RemoveTree(scratch);
        fs::DeleteFile(plan.archive);
        return UpdateOutcome{ok, std::move(message)};
    };
    if (!RemoveTree(scratch))
        return finish(false, "无法清理临时文件夹 " + scratch);
    if (!sys::UnpackArchive(plan.archive, scratch))
        return finish(false, "更新包已损坏,无法解压");
    if (!fs::Exists(scratch + plan.programFile) || fs::IsFolder(scratch + plan.programFile))
        return finish(false, "更新包中没有主程序 " + plan.programFile);
    if (!MakeExecutable(scratch + plan.programFile))
        return finish(false, "无法设置主程序的执行权限");

    EndRunningProgram(plan);
    if (!MoveEntries(scratch, plan.programFolder))
        return finish(false, "无法替换程序文件,请关闭程序后重试");

    const std::string program = plan.programFolder + plan.programFile;
    kernel::StartOptions options;
    options.gbkWorkingFolder = plan.programFolder;
    if (kernel::StartProcess("\"" + program + "\"", options) == 0)
        return finish(false, "程序已更新,但无法启动 " + program);
    return finish(true, "程序已更新并重新启动");
}

} // namespace vm::engine
