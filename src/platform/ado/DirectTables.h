#pragma once
// Whole tables of an Access file read once, straight into the caller's own layout: for a reader
// that would open a connection, read every row of a few tables front to back through
// recordsets ("select * from <table>") and close again. The file is checked and refused as that
// connection's open refuses it; the values arrive typed, without a variant or a field lookup
// each, while the reading process is still decoding the rows that follow.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vm::ado {

enum class DirectKind { Integer, Text };

struct DirectColumn {
    std::string_view name; // GBK; matched as a recordset's field name is, ASCII case ignored
    DirectKind kind;
};

// A value as the recordset would give it: NULL, or an integer or a text (GBK) by the column's
// kind. `text` lasts for the call only.
struct DirectValue {
    bool null = true;
    std::int64_t integer = 0;
    std::string_view text;
};

class DirectRows {
public:
    virtual ~DirectRows() = default;
    // The number of rows the file says will come; a hint for making room, no more (a damaged
    // file may say anything, and then fails to open).
    virtual void Expect(std::size_t rows) { (void)rows; }
    // One row, the values in the order of the columns asked for; a column the table lacks
    // reads as NULL, as a field the recordset lacks does.
    virtual void TakeRow(std::span<const DirectValue> values) = 0;
};

struct DirectRequest {
    std::string_view table; // GBK, as the statement names it
    std::span<const DirectColumn> columns;
    DirectRows* rows;
};

enum class DirectResult {
    // Every row of every table asked for that the file holds, in table order; a table the
    // file lacks gives none, as its recordset would fail to open.
    Read,
    // The connection would not open: `error` holds its description.
    NotOpened,
    // The file opens, but a column asked for holds another kind of value than asked, or the
    // Access reader is not part of this build: read it through a connection. Rows given so
    // far are to be thrown away.
    NotServed,
};

// `connectionString` is the one the connection would be opened with; a string for any other
// provider than Jet's, or for one of its installable ISAMs, is not served.
DirectResult ReadAccessTables(std::string_view connectionString,
                              std::span<const DirectRequest> requests, std::string& error);

} // namespace vm::ado
