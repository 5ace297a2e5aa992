#include "platform/text/Simplify.h"

#include <opencc/opencc.h>

#include <mutex>

namespace vm::text {
namespace {

class Simplifier {
public:
    Simplifier() : handle_(opencc_open("t2s.json")) {}
    ~Simplifier() {
        if (ok())
            opencc_close(handle_);
    }
    Simplifier(const Simplifier&) = delete;
    Simplifier& operator=(const Simplifier&) = delete;

    bool ok() const { return handle_ != reinterpret_cast<opencc_t>(-1); }

    std::string convert(std::string_view utf8) {
        const std::lock_guard<std::mutex> lock(mutex_);
        char* out = opencc_convert_utf8(handle_, utf8.data(), utf8.size());
        if (out == nullptr)
            return std::string(utf8);
        std::string result(out);
        opencc_convert_utf8_free(out);
        return result;
    }

private:
    opencc_t handle_;
    std::mutex mutex_;
};

} // namespace

std::string TraditionalToSimplifiedUtf8(std::string_view utf8) {
    // Loading the dictionaries takes milliseconds; they are kept for the life of the process.
    static Simplifier simplifier;
    if (!simplifier.ok() || utf8.empty())
        return std::string(utf8);
    return simplifier.convert(utf8);
}

} // namespace vm::text
