#pragma once
// The provider interface under the ADO objects. A provider opens a session from a connection
// string; a session runs statements and writes the rows of updatable recordsets. The object
// model (cursors, positions, Find, Filter, paging, persistence) lives above it, so every
// provider gets the same semantics. Texts are GBK throughout.

#include "platform/automation/Variant.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vm::ado {

using automation::HResult;
using automation::Variant;

struct ColumnInfo {
    std::string name;
    int type = 202; // DataType
    std::int64_t definedSize = 0;
    int attributes = 0;     // FieldAttribute bits
    std::string baseTable;  // empty for an expression
    std::string baseColumn; // name in the base table
    bool key = false;       // part of the base table's primary key
    int precision = 0;
    int numericScale = 0;
};

using Row = std::vector<Variant>;

struct StatementResult {
    bool returnsRows = false;
    std::vector<ColumnInfo> columns;
    std::vector<Row> rows;
    std::int64_t recordsAffected = -1; // -1 when the statement returns rows
};

// One entry of a connection's Errors collection.
struct ProviderError {
    std::string description;
    HResult number = static_cast<HResult>(0x80004005);
    std::string source;
    std::string sqlState;
    int nativeError = 0;
};

// A change to one row of an updatable recordset. `set` marks the columns a new row was given
// values for, or the columns an edit changed.
struct RowChange {
    const std::vector<ColumnInfo>* columns = nullptr;
    const Row* original = nullptr; // values as read (edits and deletes)
    Row* current = nullptr;        // values to write; refreshed from the stored row on insert
    const std::vector<bool>* set = nullptr;
};

// Rows of a statement one at a time, for readers that never look back.
class RowCursor {
public:
    virtual ~RowCursor() = default;
    // The next row into `out`; false at the end, or on failure with `error.description` set.
    virtual bool Next(Row& out, ProviderError& error) = 0;
};

// Serves rows already read in full.
class MaterialisedCursor : public RowCursor {
public:
    explicit MaterialisedCursor(std::vector<Row> rows) : rows_(std::move(rows)) {}
    bool Next(Row& out, ProviderError&) override {
        if (next_ >= rows_.size())
            return false;
        out = std::move(rows_[next_]);
        rows_[next_++] = Row();
        return true;
    }

private:
    std::vector<Row> rows_;
    std::size_t next_ = 0;
};

class Session {
public:
    virtual ~Session() = default;

    // The "Provider" property of an open connection.
    virtual std::string ProviderName() const = 0;
    virtual bool ReadOnly() const = 0;

    virtual bool Execute(std::string_view sql, std::span<const Variant> parameters,
                         StatementResult& out, ProviderError& error) = 0;

    // Runs a statement whose rows are fetched as they are asked for. Null on failure. An
    // action statement has run to completion when it returns, with `columns` left empty. The
    // cursor must not outlive the session; other statements may run while it is open.
    virtual std::unique_ptr<RowCursor> Query(std::string_view sql,
                                             std::span<const Variant> parameters,
                                             std::vector<ColumnInfo>& columns,
                                             ProviderError& error) {
        StatementResult result;
        if (!Execute(sql, parameters, result, error))
            return nullptr;
        columns = result.returnsRows ? std::move(result.columns) : std::vector<ColumnInfo>();
        return std::make_unique<MaterialisedCursor>(std::move(result.rows));
    }

    // Transactions nest: level 1 is the outermost.
    virtual bool Begin(int level, ProviderError& error) = 0;
    virtual bool Commit(int level, ProviderError& error) = 0;
    virtual bool Rollback(int level, ProviderError& error) = 0;

    // Seconds a statement may run before it is interrupted; 0 for no limit.
    virtual void SetCommandTimeout(int seconds) = 0;

    virtual bool InsertRow(const RowChange& change, ProviderError& error) = 0;
    virtual bool UpdateRow(const RowChange& change, ProviderError& error) = 0;
    virtual bool DeleteRow(const RowChange& change, ProviderError& error) = 0;

    // Calls a stored procedure (or a function, when one parameter is its return value).
    // `values` hold one value per parameter, in order; `directions` their ADO directions (1
    // input, 2 output, 3 input and output, 4 return value). The values of the output and
    // return-value parameters are written back into `values`.
    virtual bool CallProcedure(std::string_view name, std::vector<Variant>& values,
                               const std::vector<int>& directions, StatementResult& out,
                               ProviderError& error) {
        (void)name, (void)values, (void)directions, (void)out;
        error = {};
        error.description =
            "Stored procedures are not supported by the " + ProviderName() + " provider here.";
        error.sqlState = "IM001";
        return false;
    }

    // The tables schema rowset (OpenSchema 20): TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME,
    // TABLE_TYPE, TABLE_GUID, DESCRIPTION, TABLE_PROPID, DATE_CREATED, DATE_MODIFIED.
    virtual bool Tables(StatementResult& out, ProviderError& error) = 0;
};

struct OpenRequest {
    std::string connectionString;
    int mode = 0;               // connect mode; 1 (read) opens read-only
    int connectionTimeout = 15; // seconds to wait for a locked database
};

// Chooses the provider the connection string names and opens a session. On failure the
// error names what is missing or what went wrong; `providerName` is set either way to the
// provider the string asked for.
std::unique_ptr<Session> OpenSession(const OpenRequest& request, std::string& providerName,
                                     ProviderError& error);

// Maps a Windows path text (GBK) of a data source to a Linux path (UTF-8); empty when it
// names nothing on this machine.
std::string DataSourcePath(std::string_view path);

} // namespace vm::ado
