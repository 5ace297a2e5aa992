#pragma once
// "ADODB.Stream" (see Stream.cpp).

#include "platform/ado/Objects.h"

#include <string>
#include <vector>

namespace vm::ado {

class Stream : public NativeDispatch<Stream> {
public:
    static const MemberTable<Stream>& Members();

    bool IsOpen() const { return open_; }

    HResult Open(Invocation& call);
    HResult Close(Invocation& call);
    HResult Type(Invocation& call);
    HResult Charset(Invocation& call);
    HResult Position(Invocation& call);
    HResult LineSeparator(Invocation& call);
    HResult Read(Invocation& call);
    HResult Write(Invocation& call);
    HResult ReadText(Invocation& call);
    HResult WriteText(Invocation& call);
    HResult SkipLine(Invocation& call);
    HResult CopyTo(Invocation& call);
    HResult SaveToFile(Invocation& call);
    HResult LoadFromFile(Invocation& call);

private:
    HResult Closed(Invocation& call);
    void Put(std::string_view bytes);
    std::string LineEnd() const;

    bool open_ = false;
    int type_ = 2; // text
    int mode_ = 0;
    int lineSeparator_ = -1; // CR LF
    std::string charset_ = "Unicode";
    std::vector<char> data_;
    std::size_t position_ = 0;
};

} // namespace vm::ado
