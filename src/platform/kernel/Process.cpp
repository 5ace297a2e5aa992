#include "platform/kernel/Process.h"

#include "platform/fs/Path.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <limits.h>
#include <optional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace vm::kernel {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::size_t SkipBlanks(std::string_view text, std::size_t i) {
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return i;
}

// One argument by CommandLineToArgvW's rules, starting at `i` (not a blank); `i` ends on the
// blank after it or at the end. `quotes` counts quotes modulo 3: 1 means inside quotes, and a
// third quote in a row yields a literal quote.
std::string TakeArgument(std::string_view text, std::size_t& i) {
    std::string argument;
    int quotes = 0;
    std::size_t backslashes = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (IsBlank(c) && quotes == 0)
            break;
        if (c == '\\') {
            argument += c;
            ++backslashes;
            ++i;
            continue;
        }
        if (c == '"') {
            if (backslashes % 2 == 0) {
                argument.resize(argument.size() - backslashes / 2);
                ++quotes;
            } else {
                argument.resize(argument.size() - backslashes / 2 - 1);
                argument += '"';
            }
            backslashes = 0;
            ++i;
            while (i < text.size() && text[i] == '"') {
                if (++quotes == 3) {
                    argument += '"';
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2)
                quotes = 0;
            continue;
        }
        // A whole character: a trail byte of 0x5C must not count as a backslash.
        const std::size_t length = text::CharLengthAt(text, i);
        argument.append(text.substr(i, length));
        i += length;
        backslashes = 0;
    }
    return argument;
}

std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> arguments;
    std::size_t i = SkipBlanks(text, 0);
    while (i < text.size()) {
        arguments.push_back(TakeArgument(text, i));
        i = SkipBlanks(text, i);
    }
    return arguments;
}

bool IsRegularFile(const std::string& linuxPath) {
    struct stat info {};
    return !linuxPath.empty() && ::stat(linuxPath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool EndsWithExe(std::string_view name) {
    return name.size() >= 4 && text::EqualsNoCase(name.substr(name.size() - 4), ".exe");
}

bool HasFolderPart(std::string_view gbkPath) {
    return gbkPath.find('/') != std::string_view::npos || text::Find(gbkPath, "\\") > 0 ||
           (gbkPath.size() >= 2 && gbkPath[1] == ':');
}

// The Linux file a program text names, searched as a bare name in the working folder and then
// in PATH; empty when there is no such file.
std::string FindProgramFile(std::string_view gbkProgram) {
    const std::string linuxPath = fs::ToLinuxPath(gbkProgram);
    if (linuxPath.empty())
        return {};
    if (HasFolderPart(gbkProgram))
        return IsRegularFile(linuxPath) ? linuxPath : std::string();
    if (IsRegularFile(linuxPath))
        return "./" + linuxPath;
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
        if (folder.empty())
            continue;
        std::string candidate = std::string(folder) + "/" + linuxPath;
        if (IsRegularFile(candidate))
            return candidate;
    }
    return {};
}

// As given, then with ".exe" as CreateProcessA appends it.
std::string FindProgramFileOrExe(std::string_view gbkProgram) {
    std::string found = FindProgramFile(gbkProgram);
    if (found.empty() && !EndsWithExe(gbkProgram))
        found = FindProgramFile(std::string(gbkProgram) + ".exe");
    return found;
}

struct ResolvedCommand {
    std::string program; // Linux path, UTF-8
    std::string_view rest;
};

std::optional<ResolvedCommand> ResolveCommand(std::string_view line) {
    line = line.substr(SkipBlanks(line, 0));
    if (line.empty())
        return std::nullopt;
    if (line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        const std::string_view program = line.substr(1, close - 1);
        const std::string_view rest =
            close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
        std::string file = FindProgramFileOrExe(program);
        if (file.empty())
            return std::nullopt;
        return ResolvedCommand{std::move(file), rest};
    }
    // Unquoted: every prefix ending at a blank, shortest first, then the whole text.
    for (std::size_t end = 0; end <= line.size(); ++end) {
        if (end < line.size() && !IsBlank(line[end]))
            continue;
        if (end > 0 && IsBlank(line[end - 1]))
            continue;
        std::string file = FindProgramFileOrExe(line.substr(0, end));
        if (!file.empty())
            return ResolvedCommand{std::move(file), line.substr(end)};
    }
    return std::nullopt;
}

// Waits for one child of ours by its pid, so no zombie stays and no other child's status is
// taken from whoever else waits for theirs.
void ReapWhenEnded(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the child stays a zombie until we end; nothing worse.
    }
}

class SpawnSetup {
public:
    explicit SpawnSetup(const std::string& workingFolder) {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
        ok_ = ::posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0) == 0 &&
              ::posix_spawn_file_actions_addclosefrom_np(&actions_, 3) == 0;
        if (!workingFolder.empty())
            ok_ = ok_ &&
                  ::posix_spawn_file_actions_addchdir_np(&actions_, workingFolder.c_str()) == 0;
        // A started program is on its own, as on Windows: its own session, so a terminal's
        // signals to us do not reach it; no blocked signals; the usual dispositions even where
        // we ignore one (libraries ignore SIGPIPE).
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal :
             {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM, SIGUSR1, SIGUSR2})
            sigaddset(&defaults, signal);
        ok_ = ok_ && ::posix_spawnattr_setsigmask(&attributes_, &none) == 0 &&
              ::posix_spawnattr_setsigdefault(&attributes_, &defaults) == 0 &&
              ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK |
                                                           POSIX_SPAWN_SETSIGDEF |
                                                           POSIX_SPAWN_SETSID) == 0;
    }
    ~SpawnSetup() {
        ::posix_spawnattr_destroy(&attributes_);
        ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool ok() const { return ok_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
    bool ok_ = false;
};

std::string Basename(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ReadSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string content;
    char buffer[4096];
    while (in && content.size() < 65536) {
        in.read(buffer, sizeof buffer);
        content.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return content;
}

std::vector<std::string> SplitNul(const std::string& bytes) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\0', start);
        if (end == std::string::npos)
            end = bytes.size();
        pieces.emplace_back(bytes, start, end - start);
        start = end + 1;
    }
    return pieces;
}

std::string ExecutablePath(const std::string& procFolder) {
    std::array<char, PATH_MAX> buffer{};
    const ssize_t length = ::readlink((procFolder + "/exe").c_str(), buffer.data(), buffer.size());
    if (length <= 0)
        return {};
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    // A replaced executable (an updated engine) still runs under its old name.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted))
        path.resize(path.size() - kDeleted.size());
    return path;
}

// "python3.11" -> "python", "perl5.36.0" -> "perl".
bool IsInterpreter(std::string name) {
    while (!name.empty() &&
           (std::isdigit(static_cast<unsigned char>(name.back())) != 0 || name.back() == '.'))
        name.pop_back();
    static const std::array<std::string_view, 17> kInterpreters = {
        "sh",   "bash", "dash",   "zsh", "ksh",    "mksh",  "ash", "python", "pypy",
        "perl", "ruby", "nodejs", "lua", "luajit", "tclsh", "php", "node"};
    return std::find(kInterpreters.begin(), kInterpreters.end(), name) != kInterpreters.end();
}

// The script an interpreter runs: its first operand that names an existing file.
std::string ScriptName(const std::string& procFolder, const std::vector<std::string>& argv) {
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& operand = argv[i];
        if (operand.empty() || operand[0] == '-')
            continue;
        const std::string path = operand[0] == '/' ? operand : procFolder + "/cwd/" + operand;
        return IsRegularFile(path) ? Basename(operand) : std::string();
    }
    return {};
}

std::optional<ProcessEntry> DescribeProcess(int pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    const std::string executable = ExecutablePath(folder);
    const std::vector<std::string> argv = SplitNul(ReadSmallFile(folder + "/cmdline"));
    // Kernel threads and zombies have neither an executable nor a command line.
    if (executable.empty() && argv.empty())
        return std::nullopt;
    std::string name = !executable.empty() ? Basename(executable) : Basename(argv[0]);
    if (IsInterpreter(name)) {
        std::string script = ScriptName(folder, argv);
        if (!script.empty())
            name = std::move(script);
    }
    return ProcessEntry{pid, text::Utf8ToGbk(name)};
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view gbkCommandLine) {
    if (gbkCommandLine.empty())
        return {};
    std::vector<std::string> pieces;
    std::size_t i = 0;
    if (gbkCommandLine[0] == '"') {
        const std::size_t close = gbkCommandLine.find('"', 1);
        pieces.emplace_back(gbkCommandLine.substr(1, close - 1));
        i = close == std::string_view::npos ? gbkCommandLine.size() : close + 1;
    } else {
        while (i < gbkCommandLine.size() && !IsBlank(gbkCommandLine[i]))
            ++i;
        pieces.emplace_back(gbkCommandLine.substr(0, i));
    }
    std::vector<std::string> arguments = SplitArguments(gbkCommandLine.substr(i));
    pieces.insert(pieces.end(), std::make_move_iterator(arguments.begin()),
                  std::make_move_iterator(arguments.end()));
    return pieces;
}

int Spawn(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& workingFolder) {
    if (program.empty())
        return 0;
    const SpawnSetup setup(workingFolder);
    if (!setup.ok())
        return 0;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool searchPath = program.find('/') == std::string::npos;
    const int error = searchPath ? ::posix_spawnp(&pid, program.c_str(), setup.actions(),
                                                  setup.attributes(), argv.data(), environ)
                                 : ::posix_spawn(&pid, program.c_str(), setup.actions(),
                                                 setup.attributes(), argv.data(), environ);
    if (error != 0 || pid <= 0)
        return 0;
    ReapWhenEnded(pid);
    return static_cast<int>(pid);
}

int StartProcess(std::string_view gbkCommandLine, const StartOptions& options) {
    const std::optional<ResolvedCommand> command = ResolveCommand(gbkCommandLine);
    if (!command)
        return 0;
    std::string workingFolder;
    if (!options.gbkWorkingFolder.empty()) {
        workingFolder = fs::ToLinuxPath(options.gbkWorkingFolder);
        if (workingFolder.empty())
            return 0;
    }
    std::vector<std::string> arguments;
    for (const std::string& argument : SplitArguments(command->rest))
        arguments.push_back(text::GbkToUtf8(argument));
    return Spawn(command->program, arguments, workingFolder);
}

bool WaitForInputIdle(int pid, int /*timeoutMs*/) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

std::vector<ProcessEntry> ProcessSnapshot() {
    std::vector<ProcessEntry> entries;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return entries;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid > INT_MAX)
            continue;
        if (auto described = DescribeProcess(static_cast<int>(pid)))
            entries.push_back(std::move(*described));
    }
    ::closedir(proc);
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return entries;
}

bool TerminateProcess(int pid) {
    return pid > 0 && ::kill(pid, SIGKILL) == 0;
}

} // namespace vm::kernel
