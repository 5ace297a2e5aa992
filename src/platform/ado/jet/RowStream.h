#pragma once
// What the reading child sends its parent: frames of "u32 length, payload", little-endian.
//   'T' name, u16 column count, per column name and declared type,  a table starts
//       u32 row count (as the table definition counts them)
//   'R' per column a tag and its value                              a row of the last table
//   'E' message (UTF-8)                                             the child gave up
//   'Z'                                                             everything was sent
// Texts are u32 length + bytes; names and text values are GBK.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vm::ado::jet {

enum class Frame : char { Table = 'T', Row = 'R', Error = 'E', Done = 'Z' };
enum class Cell : char { Null = 0, Integer = 1, Real = 2, Text = 3, Blob = 4 };

class FrameBuilder {
public:
    void begin(Frame kind) {
        bytes_.assign(4, '\0');
        bytes_.push_back(static_cast<char>(kind));
    }
    void u8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
    void u16(std::uint16_t v) { raw(&v, 2); }
    void u32(std::uint32_t v) { raw(&v, 4); }
    void i64(std::int64_t v) { raw(&v, 8); }
    void f64(double v) { raw(&v, 8); }
    void text(std::string_view s) {
        u32(static_cast<std::uint32_t>(s.size()));
        bytes_.append(s);
    }
    // Appends room for a text of unknown length; finish with endText(mark).
    std::size_t beginText() {
        u32(0);
        return bytes_.size();
    }
    void endText(std::size_t mark) {
        const auto length = static_cast<std::uint32_t>(bytes_.size() - mark);
        std::memcpy(bytes_.data() + mark - 4, &length, 4);
    }
    std::string& bytes() { return bytes_; }
    const std::string& finish() {
        const auto length = static_cast<std::uint32_t>(bytes_.size() - 4);
        std::memcpy(bytes_.data(), &length, 4);
        return bytes_;
    }

private:
    void raw(const void* p, std::size_t n) { bytes_.append(static_cast<const char*>(p), n); }
    std::string bytes_;
};

// Reads a frame's payload; every read is bounds-checked and a short frame sets failed().
class FrameReader {
public:
    explicit FrameReader(std::string_view payload) : data_(payload) {}
    std::uint8_t u8() {
        std::uint8_t v = 0;
        take(&v, 1);
        return v;
    }
    std::uint16_t u16() {
        std::uint16_t v = 0;
        take(&v, 2);
        return v;
    }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        take(&v, 4);
        return v;
    }
    std::int64_t i64() {
        std::int64_t v = 0;
        take(&v, 8);
        return v;
    }
    double f64() {
        double v = 0;
        take(&v, 8);
        return v;
    }
    std::string_view text() {
        const std::uint32_t n = u32();
        if (failed_ || n > data_.size() - pos_) {
            failed_ = true;
            return {};
        }
        const std::string_view s = data_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    bool failed() const { return failed_; }
    bool atEnd() const { return pos_ == data_.size(); }

private:
    void take(void* out, std::size_t n) {
        if (failed_ || n > data_.size() - pos_) {
            failed_ = true;
            return;
        }
        std::memcpy(out, data_.data() + pos_, n);
        pos_ += n;
    }
    std::string_view data_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace vm::ado::jet
