#include "platform/gui/detail/Paths.h"

#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

namespace vm::gui::detail {

bool HasScheme(std::string_view target) {
    const auto colon = target.find(':');
    if (colon == std::string_view::npos || colon < 2)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = target[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other))
            return false;
    }
    return true;
}

std::string LinuxPath(std::string_view windowsPath) {
    std::string_view rest = windowsPath;
    std::string gbk;
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'a' && rest[0] <= 'z') || (rest[0] >= 'A' && rest[0] <= 'Z'))) {
        rest.remove_prefix(2);
        if (rest.empty() || (rest.front() != '\\' && rest.front() != '/'))
            gbk = "/";
    }
    for (std::size_t i = 0; i < rest.size();) {
        const std::size_t length = text::CharLengthAt(rest, i);
        if (length == 1 && rest[i] == '\\')
            gbk += '/';
        else
            gbk.append(rest.substr(i, length));
        i += length;
    }
    return text::GbkToUtf8(gbk);
}

std::string WindowsPath(std::string_view linuxPath) {
    std::string gbk = text::Utf8ToGbk(linuxPath);
    std::string out;
    if (!gbk.empty() && gbk.front() == '/')
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

} // namespace vm::gui::detail
