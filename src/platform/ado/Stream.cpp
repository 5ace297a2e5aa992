// "ADODB.Stream": a block of bytes with a position, read and written as bytes (type 1) or as
// text in a character set (type 2). Texts cross the interface as GBK.

#include "platform/ado/Stream.h"
#include "platform/ado/FastText.h"
#include "platform/ado/Members.h"
#include "platform/ado/Objects.h"
#include "platform/fs/File.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <iconv.h>

namespace vm::ado {
namespace {

using automation::kOk;

constexpr int kBinary = 1;
constexpr int kText = 2;

// The iconv name of a character set name as ADO callers write it.
std::string IconvName(std::string_view charset) {
    const std::string lower = text::ToLowerAscii(text::Trim(charset));
    if (lower == "unicode" || lower == "utf-16" || lower == "utf-16le")
        return "UTF-16LE";
    if (lower == "unicodefffe" || lower == "utf-16be")
        return "UTF-16BE";
    if (lower == "utf-8" || lower == "utf8")
        return "UTF-8";
    if (lower == "gbk" || lower == "gb2312" || lower == "x-gbk" || lower == "cp936" ||
        lower == "windows-936")
        return "CP936";
    if (lower == "gb18030")
        return "GB18030";
    if (lower == "big5" || lower == "cp950")
        return "CP950";
    if (lower == "ascii" || lower == "us-ascii")
        return "ASCII";
    if (lower == "iso-8859-1" || lower == "latin1")
        return "ISO-8859-1";
    if (lower.rfind("windows-", 0) == 0)
        return "CP" + lower.substr(8);
    return text::Trim(charset);
}

bool KnownToIconv(const std::string& name) {
    const iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

std::string_view ByteOrderMark(const std::string& iconvName) {
    if (iconvName == "UTF-16LE")
        return "\xFF\xFE";
    if (iconvName == "UTF-16BE")
        return "\xFE\xFF";
    if (iconvName == "UTF-8")
        return "\xEF\xBB\xBF";
    return {};
}

std::string Decode(std::string_view bytes, const std::string& iconvName) {
    if (iconvName == "UTF-8")
        return Utf8ToGbkFast(bytes);
    if (iconvName == "CP936")
        return std::string(bytes);
    return text::Convert(bytes, iconvName.c_str(), "CP936");
}

std::string Encode(std::string_view gbk, const std::string& iconvName) {
    if (iconvName == "CP936")
        return std::string(gbk);
    if (iconvName == "UTF-8")
        return GbkToUtf8Fast(gbk);
    return text::Convert(gbk, "CP936", iconvName.c_str());
}

} // namespace

const MemberTable<Stream>& Stream::Members() {
    using Def = Declare<Stream>;
    static const MemberTable<Stream> table = {
        Def::Method("Open", 5, &Stream::Open),
        Def::Method("Close", 0, &Stream::Close),
        Def::OpenState(),
        Def::GetPut("Type", &Stream::Type),
        Def::GetPut("Mode",
                    [](Stream& self, Invocation& call) {
                        if (call.IsPut() && self.open_)
                            return call.Throw(FaultText(Fault::ObjectOpen));
                        return IntProperty(call, self.mode_);
                    }),
        Def::GetPut("Charset", &Stream::Charset),
        Def::GetPut("Position", &Stream::Position),
        Def::Get("Size",
                 [](Stream& self, Invocation& call) {
                     if (!self.open_)
                         return self.Closed(call);
                     return call.Return(Variant(static_cast<std::int32_t>(self.data_.size())));
                 }),
        Def::Get("EOS",
                 [](Stream& self, Invocation& call) {
                     if (!self.open_)
                         return self.Closed(call);
                     return call.Return(Variant(self.position_ >= self.data_.size()));
                 }),
        Def::Method("SetEOS", 0,
                    [](Stream& self, Invocation& call) {
                        if (!self.open_)
                            return self.Closed(call);
                        self.data_.resize(self.position_);
                        return kOk;
                    }),
        Def::GetPut("LineSeparator", &Stream::LineSeparator),
        Def::Method("Read", 1, &Stream::Read),
        Def::Method("Write", 1, &Stream::Write),
        Def::Method("ReadText", 1, &Stream::ReadText),
        Def::Method("WriteText", 2, &Stream::WriteText),
        Def::Method("SkipLine", 0, &Stream::SkipLine),
        Def::Method("CopyTo", 2, &Stream::CopyTo),
        Def::Method(
            "Flush", 0,
            [](Stream& self, Invocation& call) { return self.open_ ? kOk : self.Closed(call); }),
        Def::Method("SaveToFile", 2, &Stream::SaveToFile),
        Def::Method("LoadFromFile", 1, &Stream::LoadFromFile),
        Def::Method("Cancel", 0, [](Stream&, Invocation&) { return kOk; }),
    };
    return table;
}

HResult Stream::Closed(Invocation& call) {
    return call.Throw(FaultText(Fault::ObjectClosed));
}

HResult Stream::Open(Invocation& call) {
    if (open_)
        return call.Throw(FaultText(Fault::ObjectOpen));
    if (call.Has(0))
        return call.Throw("Opening a stream on a URL or a record is not supported; open it empty "
                          "and use LoadFromFile.");
    data_.clear();
    position_ = 0;
    open_ = true;
    return kOk;
}

HResult Stream::Close(Invocation& call) {
    if (!open_)
        return Closed(call);
    open_ = false;
    data_.clear();
    position_ = 0;
    return kOk;
}

HResult Stream::Type(Invocation& call) {
    if (call.IsPut()) {
        int type = 0;
        if (!PutInt(call, type, kBinary, kText))
            return InvalidArgument(call);
        if (open_ && position_ != 0)
            return call.Throw(FaultText(Fault::IllegalOperation));
        type_ = type;
        return kOk;
    }
    return call.Return(Variant(std::int32_t{type_}));
}

HResult Stream::Charset(Invocation& call) {
    if (call.IsPut()) {
        std::string name;
        if (!call.Value().ToText(name) || !KnownToIconv(IconvName(name)))
            return InvalidArgument(call);
        if (open_ && position_ != 0)
            return call.Throw(FaultText(Fault::IllegalOperation));
        charset_ = name;
        return kOk;
    }
    return call.Return(Variant(charset_));
}

HResult Stream::Position(Invocation& call) {
    if (!open_)
        return Closed(call);
    if (call.IsPut()) {
        int position = 0;
        if (!PutInt(call, position, 0) || static_cast<std::size_t>(position) > data_.size())
            return InvalidArgument(call);
        position_ = static_cast<std::size_t>(position);
        return kOk;
    }
    return call.Return(Variant(static_cast<std::int32_t>(position_)));
}

HResult Stream::LineSeparator(Invocation& call) {
    if (call.IsPut()) {
        int separator = 0;
        if (!PutInt(call, separator) || (separator != -1 && separator != 10 && separator != 13))
            return InvalidArgument(call);
        lineSeparator_ = separator;
        return kOk;
    }
    return call.Return(Variant(std::int32_t{lineSeparator_}));
}

HResult Stream::Read(Invocation& call) {
    if (!open_)
        return Closed(call);
    if (type_ != kBinary)
        return call.Throw(FaultText(Fault::IllegalOperation));
    int count = -1;
    if (!OptionalInt(call, 0, count))
        return InvalidArgument(call);
    const std::size_t left = data_.size() - position_;
    const std::size_t n = count < 0 ? left : std::min(left, static_cast<std::size_t>(count));
    automation::Bytes bytes(data_.begin() + static_cast<long>(position_),
                            data_.begin() + static_cast<long>(position_ + n));
    position_ += n;
    return call.Return(Variant(std::move(bytes)));
}

void Stream::Put(std::string_view bytes) {
    if (position_ + bytes.size() > data_.size())
        data_.resize(position_ + bytes.size());
    std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<long>(position_));
    position_ += bytes.size();
}

HResult Stream::Write(Invocation& call) {
    if (!open_)
        return Closed(call);
    if (type_ != kBinary)
        return call.Throw(FaultText(Fault::IllegalOperation));
    automation::Bytes bytes;
    if (!call.Arg(0).ToBytes(bytes))
        return InvalidArgument(call);
    Put(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return kOk;
}

std::string Stream::LineEnd() const {
    return lineSeparator_ == 10 ? "\n" : lineSeparator_ == 13 ? "\r" : "\r\n";
}

HResult Stream::ReadText(Invocation& call) {
    if (!open_)
        return Closed(call);
    if (type_ != kText)
        return call.Throw(FaultText(Fault::IllegalOperation));
    int count = -1;
    if (!OptionalInt(call, 0, count))
        return InvalidArgument(call);
    const std::string name = IconvName(charset_);
    std::size_t start = position_;
    const std::string_view bom = ByteOrderMark(name);
    const std::string_view all(data_.data(), data_.size());
    if (start == 0 && !bom.empty() && all.substr(0, bom.size()) == bom)
        start = bom.size();
    std::string text = Decode(all.substr(start), name);
    if (count == -2) {
        // One line: up to the separator, which is consumed but not returned.
        const std::string end = LineEnd();
        const int at = text::Find(text, end, 1, true);
        if (at > 0) {
            const std::string line = text.substr(0, static_cast<std::size_t>(at - 1));
            position_ = start + Encode(line + end, name).size();
            return call.Return(Variant(line));
        }
    } else if (count >= 0) {
        // The first `count` characters.
        std::size_t bytes = 0;
        for (int i = 0; i < count && bytes < text.size(); ++i)
            bytes += text::CharLengthAt(text, bytes);
        text.resize(bytes);
        position_ = std::min(data_.size(), start + Encode(text, name).size());
        return call.Return(Variant(text));
    }
    position_ = data_.size();
    return call.Return(Variant(text));
}

HResult Stream::WriteText(Invocation& call) {
    if (!open_)
        return Closed(call);
    if (type_ != kText)
        return call.Throw(FaultText(Fault::IllegalOperation));
    std::string text;
    if (!call.Arg(0).ToText(text))
        return InvalidArgument(call);
    int option = 0;
    if (!OptionalInt(call, 1, option))
        return InvalidArgument(call);
    if (option == 1)
        text += LineEnd();
    const std::string name = IconvName(charset_);
    // Text written at the start of an empty stream gets the character set's byte-order mark.
    if (position_ == 0 && data_.empty())
        Put(ByteOrderMark(name));
    Put(Encode(text, name));
    return kOk;
}

HResult Stream::SkipLine(Invocation& call) {
    if (!open_)
        return Closed(call);
    const std::string end = Encode(LineEnd(), IconvName(charset_));
    const std::string_view all(data_.data(), data_.size());
    const std::size_t at = all.find(end, position_);
    position_ = at == std::string_view::npos ? data_.size() : at + end.size();
    return kOk;
}

HResult Stream::CopyTo(Invocation& call) {
    if (!open_)
        return Closed(call);
    const auto target = std::dynamic_pointer_cast<Stream>(call.Arg(0).Dispatcher());
    if (!target || !target->open_)
        return InvalidArgument(call);
    int count = -1;
    if (!OptionalInt(call, 1, count))
        return InvalidArgument(call);
    const std::size_t left = data_.size() - position_;
    const std::size_t n = count < 0 ? left : std::min(left, static_cast<std::size_t>(count));
    target->Put(std::string_view(data_.data() + position_, n));
    position_ += n;
    return kOk;
}

HResult Stream::SaveToFile(Invocation& call) {
    if (!open_)
        return Closed(call);
    std::string path;
    if (!call.Arg(0).ToText(path) || path.empty())
        return InvalidArgument(call);
    int options = 1;
    if (!OptionalInt(call, 1, options))
        return InvalidArgument(call);
    if (options != 2 && fs::Exists(path))
        return call.Throw("Write to file failed: '" + path + "' already exists.");
    if (!fs::WriteFileAtomic(path, std::string_view(data_.data(), data_.size())))
        return call.Throw("Write to file failed: '" + path + "'.");
    return kOk;
}

HResult Stream::LoadFromFile(Invocation& call) {
    if (!open_)
        return Closed(call);
    std::string path;
    if (!call.Arg(0).ToText(path))
        return InvalidArgument(call);
    std::optional<std::string> bytes = fs::ReadFile(path);
    if (!bytes)
        return call.Throw("File could not be opened: '" + path + "'.");
    data_.assign(bytes->begin(), bytes->end());
    position_ = 0;
    return kOk;
}

} // namespace vm::ado
