#include "platform/shell/Shell.h"

#include "platform/fs/Path.h"
#include "platform/kernel/Process.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <gio/gio.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vm::shell {
namespace {

// ShellExecuteA's results.
constexpr int kSuccess = 42;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kNoAssociation = 31;

// A file manager started by bus activation may take a while; the call runs on a worker thread.
constexpr int kShowItemsTimeoutMs = 10000;

struct GFreeDeleter {
    void operator()(gchar* p) const { g_free(p); }
};
struct GErrorDeleter {
    void operator()(GError* p) const { g_error_free(p); }
};
struct GObjectDeleter {
    void operator()(gpointer p) const { g_object_unref(p); }
};
struct GVariantDeleter {
    void operator()(GVariant* p) const { g_variant_unref(p); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

std::string Opener() {
    const char* replacement = std::getenv("VM_OPENER");
    return replacement != nullptr && *replacement != '\0' ? replacement : "xdg-open";
}

// Hands one target (UTF-8 address or absolute path) to the opener. A target that starts with
// "-" would be read as an option, so it is refused.
bool Open(const std::string& target) {
    if (target.empty() || target[0] == '-')
        return false;
    return kernel::Spawn(Opener(), {target}) > 0;
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolderPath(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string Absolute(std::string path) {
    if (!path.empty() && path[0] != '/') {
        std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
        if (!cwd)
            return {};
        path = std::string(cwd.get()) + "/" + path;
    }
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string ParentFolder(const std::string& absolutePath) {
    const std::size_t slash = absolutePath.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : absolutePath.substr(0, slash);
}

// An absolute Linux path for a Windows path text, relative ones taken from `gbkFolder` when
// given; empty when the text names nothing on Linux.
std::string LinuxPathFor(std::string_view gbkPath, std::string_view gbkFolder = {}) {
    std::string path = fs::ToLinuxPath(gbkPath);
    if (path.empty())
        return {};
    if (path[0] != '/' && !gbkFolder.empty()) {
        const std::string folder = fs::ToLinuxPath(gbkFolder);
        if (folder.empty())
            return {};
        path = folder + "/" + path;
    }
    return Absolute(path);
}

bool ShowItemsOverBus(const std::string& absolutePath) {
    GError* rawError = nullptr;
    const GText uri(g_filename_to_uri(absolutePath.c_str(), nullptr, &rawError));
    std::unique_ptr<GError, GErrorDeleter> error(rawError);
    if (!uri)
        return false;
    rawError = nullptr;
    const GText address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
    error.reset(rawError);
    if (!address)
        return false;
    // A private connection: the shared one would outlive a test's bus and cache its address.
    rawError = nullptr;
    const std::unique_ptr<GDBusConnection, GObjectDeleter> connection(
        g_dbus_connection_new_for_address_sync(
            address.get(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &rawError));
    error.reset(rawError);
    if (!connection)
        return false;
    const gchar* uris[] = {uri.get(), nullptr};
    rawError = nullptr;
    const std::unique_ptr<GVariant, GVariantDeleter> reply(g_dbus_connection_call_sync(
        connection.get(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
        "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
        G_DBUS_CALL_FLAGS_NONE, kShowItemsTimeoutMs, nullptr, &rawError));
    error.reset(rawError);
    g_dbus_connection_close_sync(connection.get(), nullptr, nullptr);
    return reply != nullptr;
}

std::string_view Unquoted(std::string_view text) {
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.substr(1, text.size() - 2);
    return text;
}

// The file name after the last "\" or "/", walking characters.
std::string_view FileNamePart(std::string_view path) {
    std::size_t after = 0;
    for (std::size_t i = 0; i < path.size(); i += text::CharLengthAt(path, i))
        if (path[i] == '\\' || path[i] == '/')
            after = i + 1;
    return path.substr(after);
}

struct ExplorerRequest {
    bool select = false;
    std::string gbkPath;
};

// "Explorer /select, <path>", "explorer.exe <folder>", as one text or split into program and
// parameters. Empty when the program is not the file manager.
std::optional<ExplorerRequest> ParseExplorer(std::string_view file, std::string_view parameters) {
    const std::string line = text::Trim(file);
    std::string_view program;
    std::string_view rest;
    if (!line.empty() && line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        program = std::string_view(line).substr(1, close - 1);
        rest = close == std::string::npos ? std::string_view()
                                          : std::string_view(line).substr(close + 1);
    } else {
        const std::size_t blank = line.find_first_of(" \t");
        program = std::string_view(line).substr(0, blank);
        rest =
            blank == std::string::npos ? std::string_view() : std::string_view(line).substr(blank);
    }
    const std::string_view name = FileNamePart(program);
    if (!text::EqualsNoCase(name, "explorer") && !text::EqualsNoCase(name, "explorer.exe"))
        return std::nullopt;

    std::string arguments = text::Trim(rest);
    const std::string more = text::Trim(parameters);
    if (!more.empty())
        arguments = arguments.empty() ? more : arguments + " " + more;

    ExplorerRequest request;
    constexpr std::string_view kSelect = "/select";
    if (arguments.size() >= kSelect.size() &&
        text::EqualsNoCase(std::string_view(arguments).substr(0, kSelect.size()), kSelect)) {
        std::string after = text::TrimStart(std::string_view(arguments).substr(kSelect.size()));
        if (!after.empty() && after[0] == ',')
            after.erase(0, 1);
        request.select = true;
        request.gbkPath = std::string(Unquoted(text::Trim(after)));
    } else {
        request.gbkPath = std::string(Unquoted(arguments));
    }
    return request;
}

bool RunExplorer(const ExplorerRequest& request) {
    if (request.select)
        return ShowInFileManager(request.gbkPath);
    if (request.gbkPath.empty()) {
        const char* home = std::getenv("HOME");
        return Open(home != nullptr && *home == '/' ? home : "/");
    }
    const std::string path = LinuxPathFor(request.gbkPath);
    return !path.empty() && PathExists(path) && Open(path);
}

// A scheme of two or more characters ("http:", "mailto:"); "C:" is a drive, not a scheme.
bool HasScheme(std::string_view address) {
    std::size_t i = 0;
    while (i < address.size() && (std::isalnum(static_cast<unsigned char>(address[i])) != 0 ||
                                  address[i] == '+' || address[i] == '-' || address[i] == '.'))
        ++i;
    return i >= 2 && i < address.size() && address[i] == ':' &&
           std::isalpha(static_cast<unsigned char>(address[0])) != 0;
}

bool StartsWithWww(std::string_view address) {
    return address.size() > 4 && text::EqualsNoCase(address.substr(0, 4), "www.");
}

// What ShellExecute runs rather than opens: ELF files and scripts with an execute bit. Other
// files with the bit (documents on foreign file systems often have it) are opened.
bool IsNativeExecutable(const std::string& path) {
    if (::access(path.c_str(), X_OK) != 0)
        return false;
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    in.read(magic, sizeof magic);
    const std::string_view head(magic, static_cast<std::size_t>(in.gcount()));
    return head.starts_with("\x7F"
                            "ELF") ||
           head.starts_with("#!");
}

} // namespace

bool OpenAddress(std::string_view gbkAddress) {
    const std::string address = text::Trim(gbkAddress);
    if (address.empty())
        return false;
    const std::string utf8 = text::GbkToUtf8(address);
    return Open(StartsWithWww(address) ? "http://" + utf8 : utf8);
}

bool ShowInFileManager(std::string_view gbkWindowsPath) {
    const std::string path = LinuxPathFor(text::Trim(gbkWindowsPath));
    if (path.empty())
        return false;
    const std::string folder = ParentFolder(path);
    if (!PathExists(path))
        return IsFolderPath(folder) && Open(folder);
    auto show = [path, folder] {
        if (!ShowItemsOverBus(path))
            Open(folder);
    };
    kernel::Thread worker = kernel::StartThread(show);
    if (!worker)
        show();
    return true;
}

int ShellExecute(std::string_view operation, std::string_view file, std::string_view parameters,
                 std::string_view directory, int /*show*/) {
    const std::string target = text::Trim(file);
    if (target.empty())
        return kFileNotFound;
    if (const auto explorer = ParseExplorer(target, parameters))
        return RunExplorer(*explorer) ? kSuccess : kFileNotFound;
    if (HasScheme(target) || StartsWithWww(target))
        return OpenAddress(target) ? kSuccess : kNoAssociation;

    const std::string path = LinuxPathFor(target, directory);
    if (path.empty())
        return kPathNotFound;
    if (!PathExists(path))
        return IsFolderPath(ParentFolder(path)) ? kFileNotFound : kPathNotFound;
    if (IsFolderPath(path) || text::EqualsNoCase(operation, "explore"))
        return Open(IsFolderPath(path) ? path : ParentFolder(path)) ? kSuccess : kNoAssociation;
    if (IsNativeExecutable(path)) {
        std::string folder;
        if (!directory.empty() && (folder = LinuxPathFor(directory)).empty())
            return kPathNotFound;
        // The parameters are a command-line tail: split them as a program would.
        std::vector<std::string> pieces = kernel::SplitCommandLine("x " + std::string(parameters));
        std::vector<std::string> arguments;
        for (std::size_t i = 1; i < pieces.size(); ++i)
            arguments.push_back(text::GbkToUtf8(pieces[i]));
        return kernel::Spawn(path, arguments, folder) > 0 ? kSuccess : kFileNotFound;
    }
    return Open(path) ? kSuccess : kNoAssociation;
}

bool RunCommandLine(std::string_view gbkCommandLine) {
    if (const auto explorer = ParseExplorer(gbkCommandLine, {}))
        return RunExplorer(*explorer);
    const int pid = kernel::StartProcess(gbkCommandLine);
    if (pid == 0)
        return false;
    kernel::WaitForInputIdle(pid, 1000);
    return true;
}

} // namespace vm::shell
