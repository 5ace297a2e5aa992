#pragma once
// The jet provider's reader: copies every user table of an Access database (.mdb, Jet 3 or
// Jet 4) into a SQLite database, after checking the database password. The file is never
// written. libmdb does the reading in a short-lived child process, so a damaged or hostile
// file that crashes or hangs it becomes an open failure instead of taking the program down.
//
// In `target` every table keeps its name and columns; names and texts are GBK. Declared
// types: INTEGER (Boolean, Byte, Integer, Long), REAL (Single, Double), CURRENCY (a REAL),
// DATETIME (text "YYYY-MM-DD HH:MM:SS"), TEXT (Text, Memo), BLOB (Binary, OLE), DECIMAL
// and GUID (text). No index is built.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

struct sqlite3;

namespace vm::ado::jet {

struct JetOpenResult {
    bool ok = false;
    std::string error; // UTF-8
};

// One value of a row as the reader sends it. Texts are GBK; `bytes` lasts for the call only.
struct TapCell {
    enum Kind : std::uint8_t { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view bytes; // Text and Blob
};

struct TapColumn {
    std::string_view name;     // GBK
    std::string_view declared; // the declared type the table gets in `target`
};

// Takes the rows of chosen tables as they arrive, in place of their copy in `target`: a
// reader that wants every row once in a layout of its own then builds no copy to read back.
class RowTap {
public:
    virtual ~RowTap() = default;
    // A table starts (its definition is already in `target`); true to take its rows here.
    // `rows` is what the file says the table holds: the open fails unless that many come.
    virtual bool TakeTable(std::string_view nameGbk, std::span<const TapColumn> columns,
                           std::uint32_t rows) = 0;
    // A row of the table taken last; false stops the reading, which then fails.
    virtual bool TakeRow(std::span<const TapCell> cells) = 0;
};

// `passwordGbk` is compared exactly with the file's database password ("" for none).
// Everything is created in one transaction; on failure `target` is left as it was. With a
// tap, the tables it takes get their definitions in `target` but no rows: the open succeeds
// or fails exactly as without it.
JetOpenResult MaterialiseMdb(const std::string& linuxPath, const std::string& passwordGbk,
                             sqlite3* target, RowTap* tap = nullptr);

// The reading process is started from a small program of its own, "vellumark-jet-reader", when
// it sits beside the running executable, and otherwise from the running executable itself. In a
// process started that way this reads the file, writes the tables to the parent and exits; in
// any other it returns at once. Every program that links the reader calls it before main().
void ServeAsReaderIfStarted();

// The file name of the reader's own program.
inline constexpr const char* kReaderProgram = "vellumark-jet-reader";

} // namespace vm::ado::jet
