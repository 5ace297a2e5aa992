#include "support/SevenZip.h"

#include "support/TempFolder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vm::testing {

int RunProgram(const std::vector<std::string>& arguments,
               const std::filesystem::path& workingFolder) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!workingFolder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MakeSevenZip(const std::filesystem::path& archive, const std::vector<ArchiveItem>& items,
                  const std::vector<std::string>& switches) {
    const TempFolder scratch("vm-7z-items");
    for (const ArchiveItem& item : items) {
        const std::filesystem::path path = scratch.path() / std::filesystem::u8path(item.name);
        if (!item.name.empty() && item.name.back() == '/') {
            std::filesystem::create_directories(path);
            continue;
        }
        std::filesystem::create_directories(path.parent_path());
        if (!item.linkTarget.empty())
            std::filesystem::create_symlink(item.linkTarget, path);
        else
            WriteBytes(path, item.bytes);
    }
    std::filesystem::remove(archive);
    std::vector<std::string> arguments = {"7zz", "a", "-snl", "-bd", "-y"};
    arguments.insert(arguments.end(), switches.begin(), switches.end());
    arguments.push_back(std::filesystem::absolute(archive).string());
    arguments.push_back(".");
    return RunProgram(arguments, scratch.path()) == 0;
}

bool RenameSevenZipEntry(const std::filesystem::path& archive, const std::string& from,
                         const std::string& to) {
    return RunProgram({"7zz", "rn", "-bd", "-y", archive.string(), from, to}) == 0;
}

} // namespace vm::testing
