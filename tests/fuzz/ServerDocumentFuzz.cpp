// libFuzzer target: a server's page as the check reads it, cut between the markers, decoded
// from Base64 and searched for every key the program asks for.

#include "update/ServerInfo.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const std::string encoded = vm::update::TextBetweenMarkers(page);
    Require(encoded.size() <= page.size());
    const std::string document = vm::update::DecodeBase64(encoded);
    Require(document.size() <= encoded.size() * 3 / 4 + 1);

    // The page itself is tried as a document too: hostile documents need no Base64.
    vm::update::ServerInfoReader reader;
    for (const std::string& text : {document, std::string(page)}) {
        reader.SetDocument(text);
        for (const std::string_view key :
             {"版本号", "程序版本", "更新地址", "主程序地址", "下载引擎版本", "下载引擎地址",
              "数据库版本", "数据库地址", "", "(", ")"}) {
            const std::string value = reader.ValueOf(key);
            Require(value.size() <= text.size());
            Require(value.empty() || text.find(value) != std::string::npos);
        }
    }
    return 0;
}
