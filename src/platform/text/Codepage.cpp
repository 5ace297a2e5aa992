#include "platform/text/Codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace vm::text {
namespace {

enum class Source { Utf8, DoubleByte, Utf16 };

std::size_t SourceCharLength(const char* in, std::size_t left, Source source) {
    const auto lead = static_cast<unsigned char>(in[0]);
    switch (source) {
    case Source::Utf16:
        return 2;
    case Source::DoubleByte: {
        // Only a real lead byte followed by a possible trail byte takes its neighbour along.
        if (lead < 0x81 || lead > 0xFE || left < 2)
            return 1;
        const auto trail = static_cast<unsigned char>(in[1]);
        return trail >= 0x40 && trail != 0x7F && trail != 0xFF ? 2 : 1;
    }
    case Source::Utf8:
        break;
    }
    std::size_t length = 1;
    if (lead >= 0xC0)
        while (length < left && (static_cast<unsigned char>(in[length]) & 0xC0) == 0x80)
            ++length;
    return length;
}

class Converter {
public:
    Converter(const char* from, const char* to) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // Converts everything it can. An unconvertible character becomes `replacement` encoded in
    // the target; an invalid source byte is skipped.
    std::string run(std::string_view input, std::string_view replacement, Source unit) {
        std::string out;
        out.resize(input.size() * 4 + 16);
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        char* dst = out.data();
        std::size_t outLeft = out.size();
        while (inLeft > 0) {
            const std::size_t r = iconv(handle_, &in, &inLeft, &dst, &outLeft);
            if (r != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG) {
                const std::size_t used = out.size() - outLeft;
                out.resize(out.size() * 2);
                dst = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            if (errno == EILSEQ && outLeft >= replacement.size()) {
                // Skip one source character: either an unmappable one or a bad byte.
                const std::size_t skip = std::min(SourceCharLength(in, inLeft, unit), inLeft);
                std::memcpy(dst, replacement.data(), replacement.size());
                dst += replacement.size();
                outLeft -= replacement.size();
                in += skip;
                inLeft -= skip;
                continue;
            }
            break; // EINVAL: a truncated sequence at the end is dropped
        }
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    iconv_t handle_;
};

std::string Run(std::string_view bytes, const char* from, const char* to,
                std::string_view replacement, Source unit) {
    Converter converter(from, to);
    if (!converter.ok())
        return {};
    return converter.run(bytes, replacement, unit);
}

} // namespace

std::string Convert(std::string_view bytes, const char* from, const char* to) {
    return Run(bytes, from, to, "", Source::DoubleByte);
}

std::string GbkToUtf8(std::string_view gbk) {
    return Run(gbk, "CP936", "UTF-8", "", Source::DoubleByte);
}

std::string Utf8ToGbk(std::string_view utf8) {
    return Run(utf8, "UTF-8", "CP936", "?", Source::Utf8);
}

std::u16string GbkToUtf16(std::string_view gbk) {
    const std::string bytes = Run(gbk, "CP936", "UTF-16LE", "", Source::DoubleByte);
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

std::string Utf16ToGbk(std::u16string_view utf16) {
    const std::string_view bytes(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2);
    return Run(bytes, "UTF-16LE", "CP936", "?", Source::Utf16);
}

std::string Big5ToUtf8(std::string_view big5) {
    return Run(big5, "CP950", "UTF-8", "?", Source::DoubleByte);
}

std::string Big5ToGbk(std::string_view big5) {
    return Run(big5, "CP950", "CP936", "?", Source::DoubleByte);
}

} // namespace vm::text
