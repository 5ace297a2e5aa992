#pragma once
// A session over one SQLite database: a file the sqlite route opens, or an in-memory copy the
// Access reader fills. File databases hold UTF-8, as SQLite expects; the in-memory copies hold
// GBK already, so nothing is converted per value when the catalogue is read.

#include "platform/ado/AccessSql.h"
#include "platform/ado/Provider.h"

#include <cstdint>
#include <memory>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace vm::ado {

class SqliteSession : public Session {
public:
    enum class Encoding { Utf8, Gbk };

    struct Options {
        std::string providerName;
        std::string errorSource; // "Source" of the errors it reports
        Encoding encoding = Encoding::Utf8;
        bool readOnly = false;
        std::string readOnlyMessage; // why writes are refused (GBK); a default when empty
        // Statements are in Access's dialect and columns carry Access's declared types (the
        // Access reader's and the text provider's copies).
        bool accessSql = false;
    };

    // Opens an existing file (`create` also makes a missing one). Null on failure.
    static std::unique_ptr<SqliteSession> OpenFile(const std::string& linuxPath, bool create,
                                                   int busyTimeoutMs, Options options,
                                                   ProviderError& error);
    // Takes ownership of an open handle.
    static std::unique_ptr<SqliteSession> Adopt(sqlite3* db, Options options);

    ~SqliteSession() override;
    SqliteSession(const SqliteSession&) = delete;
    SqliteSession& operator=(const SqliteSession&) = delete;

    std::string ProviderName() const override { return options_.providerName; }
    bool ReadOnly() const override { return options_.readOnly; }
    bool Execute(std::string_view sql, std::span<const Variant> parameters, StatementResult& out,
                 ProviderError& error) override;
    std::unique_ptr<RowCursor> Query(std::string_view sql, std::span<const Variant> parameters,
                                     std::vector<ColumnInfo>& columns,
                                     ProviderError& error) override;
    bool Begin(int level, ProviderError& error) override;
    bool Commit(int level, ProviderError& error) override;
    bool Rollback(int level, ProviderError& error) override;
    void SetCommandTimeout(int seconds) override { commandTimeout_ = seconds; }
    bool InsertRow(const RowChange& change, ProviderError& error) override;
    bool UpdateRow(const RowChange& change, ProviderError& error) override;
    bool DeleteRow(const RowChange& change, ProviderError& error) override;
    bool Tables(StatementResult& out, ProviderError& error) override;

private:
    friend class SqliteCursor;

    SqliteSession(sqlite3* db, Options options);

    std::string ToDb(std::string_view gbk) const;
    std::string FromDb(std::string_view bytes) const;
    bool Fail(ProviderError& error, std::string_view what = {}) const;
    bool Refuse(ProviderError& error) const;
    // The statement in SQLite's dialect: Access's rewritten, SQLite's own as it is.
    bool Rewrite(std::string_view sql, AccessStatement& out, ProviderError& error) const;
    // Cuts the rows to what the statement's TOP keeps and drops the columns added for it.
    static void ApplyTop(const AccessStatement& statement, StatementResult& out);
    void ApplyHints(const AccessStatement& statement, std::vector<ColumnInfo>& columns) const;
    bool RunRewritten(const AccessStatement& statement, std::span<const Variant> parameters,
                      StatementResult& out, ProviderError& error, bool checkReadOnly);
    // Prepares and binds one statement; on failure nothing is left to finalize.
    bool Prepare(std::string_view sql, std::span<const Variant> parameters, sqlite3_stmt*& out,
                 ProviderError& error, bool checkReadOnly);
    bool Run(std::string_view sql, std::span<const Variant> parameters, StatementResult& out,
             ProviderError& error, bool checkReadOnly);
    bool Bind(sqlite3_stmt* stmt, int index, const Variant& value) const;
    void Describe(sqlite3_stmt* stmt, std::vector<ColumnInfo>& columns) const;
    Variant ReadValue(sqlite3_stmt* stmt, int column, int type) const;
    bool BaseTableOf(const RowChange& change, std::string& table, ProviderError& error) const;
    std::string LocateClause(const RowChange& change, const std::string& table,
                             std::vector<Variant>& parameters) const;

    static int Progress(void* self);

    sqlite3* db_;
    Options options_;
    int commandTimeout_ = 30;
    std::int64_t deadline_ = 0; // steady clock, nanoseconds
    bool timedOut_ = false;
};

} // namespace vm::ado
