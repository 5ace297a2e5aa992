#pragma once
// Writes Jet 4 (.mdb) databases: password-protected, with plain tables of integers, doubles,
// dates, texts, memos and OLE values, and no indexes. Enough for the catalogue's tests,
// benchmarks and demo; not a general Access engine.
//
// Texts and names are UTF-8 here and UCS-2 in the file.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vm::mdbwriter {

enum class ColumnType { Boolean, Byte, Integer, Long, Double, DateTime, Text, Memo, Ole };

struct Column {
    std::string name;
    ColumnType type = ColumnType::Long;
    int maxChars = 255; // Text only, 1..255
};

struct Null {};
// Integers for Boolean/Byte/Integer/Long, doubles for Double/DateTime (an OLE date), UTF-8 text
// for Text/Memo, raw bytes for Ole.
using Value = std::variant<Null, std::int64_t, double, std::string>;
using Row = std::vector<Value>;

inline Value Int(std::int64_t v) {
    return Value(v);
}
inline Value Real(double v) {
    return Value(v);
}
inline Value Str(std::string v) {
    return Value(std::move(v));
}

struct Options {
    std::string password;     // UTF-8; at most 20 UTF-16 units
    double creationDate = 0;  // OLE date; 0 takes the current time
    bool compressText = true; // Jet's 0xFF 0xFE form wherever it is safe and shorter
};

class Writer {
public:
    explicit Writer(Options options = {});
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Returns the table's number, or -1 (see error()).
    int addTable(const std::string& name, const std::vector<Column>& columns);
    // One value per column, in column order.
    bool addRow(int table, const Row& row);
    // Writes the file through a temporary file beside it, so a failure leaves `path` untouched.
    bool save(const std::string& path);

    const std::string& error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace vm::mdbwriter
