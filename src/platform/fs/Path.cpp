#include "platform/fs/Path.h"

#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace vm::fs {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Texts are zero-terminated on the other side of this boundary; a NUL ends them here too.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Byte offset just past the last "\" (0 when none), stepping over two-byte characters so that
// a trail byte 0x5C is never taken for a separator.
std::size_t AfterLastBackslash(std::string_view path) {
    std::size_t after = 0;
    for (std::size_t i = 0; i < path.size(); i += text::CharLengthAt(path, i)) {
        if (path[i] == '\\')
            after = i + 1;
    }
    return after;
}

// Windows resolves "." and ".." in a path by its text, before the file system sees it, so
// "set\..\x" works without a folder "set" and ".." never climbs above the root.
// Repeated separators collapse.
std::string Normalized(std::string_view path, bool rooted) {
    std::vector<std::string_view> pieces;
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find('/', begin);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view piece = path.substr(begin, end - begin);
        if (piece == "..") {
            if (!pieces.empty() && pieces.back() != "..")
                pieces.pop_back();
            else if (!rooted)
                pieces.push_back(piece);
        } else if (!piece.empty() && piece != ".") {
            pieces.push_back(piece);
        }
        begin = end + 1;
    }
    std::string out = rooted ? "/" : "";
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            out += '/';
        out += pieces[i];
    }
    if (out.empty())
        return ".";
    if (path.back() == '/' && out.back() != '/')
        out += '/';
    return out;
}

} // namespace

std::string ToLinuxPath(std::string_view windowsPath) {
    std::string_view path = UpToNul(windowsPath);
    if (path.empty())
        return {};
    bool rooted = IsSeparator(path[0]);
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
        if (path[0] != 'Z' && path[0] != 'z')
            return {};
        // "Z:name" has no current folder on its drive to be relative to: it starts at the root.
        path.remove_prefix(2);
        rooted = true;
    } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        return {}; // UNC share or device path
    }

    std::string slashed;
    slashed.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t length = text::CharLengthAt(path, i);
        if (length == 1 && path[i] == '\\')
            slashed += '/';
        else
            slashed.append(path.substr(i, length));
        i += length;
    }
    // The converter drops bytes that are not GBK; a path that lost bytes would name another
    // file, so it names none.
    if (slashed.empty())
        return "/"; // "Z:"
    const std::string utf8 = text::GbkToUtf8(slashed);
    if (text::Utf8ToGbk(utf8) != slashed)
        return {};
    return Normalized(utf8, rooted);
}

std::string FromLinuxPath(std::string_view linuxPath) {
    const std::string gbk = text::Utf8ToGbk(UpToNul(linuxPath));
    std::string out;
    if (!gbk.empty() && gbk[0] == '/')
        out = "Z:";
    for (std::size_t i = 0; i < gbk.size();) {
        const std::size_t length = text::CharLengthAt(gbk, i);
        if (length == 1 && gbk[i] == '/')
            out += '\\';
        else
            out.append(gbk, i, length);
        i += length;
    }
    return out;
}

std::string FolderOf(std::string_view path) {
    return std::string(path.substr(0, AfterLastBackslash(path)));
}

std::string FileNameOf(std::string_view path) {
    return std::string(path.substr(AfterLastBackslash(path)));
}

std::string ExtensionOf(std::string_view path) {
    // A blank or a folder separator after a dot means the dot did not start an extension.
    std::size_t dot = std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); i += text::CharLengthAt(path, i)) {
        if (path[i] == '\\' || path[i] == ' ')
            dot = std::string_view::npos;
        else if (path[i] == '.')
            dot = i;
    }
    return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string ExecutablePath() {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return {};
    buffer.resize(static_cast<std::size_t>(length));
    return FromLinuxPath(buffer);
}

std::string TempFolder() {
    std::string folder = "/tmp";
    if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir != nullptr && tmpdir[0] == '/')
        folder = tmpdir;
    std::string windows = FromLinuxPath(folder);
    if (windows.back() != '\\')
        windows += '\\';
    return windows;
}

} // namespace vm::fs
