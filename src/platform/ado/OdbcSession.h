#pragma once
// A session over an ODBC driver through the unixODBC driver manager, and the mapping from the
// driver names that connection strings written for Windows carry to the drivers installed here.
//
// The narrow ODBC calls are used throughout: each driver reads and writes texts in the client
// character set its connection string chose (MariaDB's CHARSET, FreeTDS's ClientCharset), so
// a connection asking for GBK passes the logic's texts through unchanged, and any other
// connection speaks UTF-8.

#include "platform/ado/ConnectionString.h"
#include "platform/ado/Provider.h"

#include <memory>
#include <string>
#include <vector>

namespace vm::ado {

// Where the ODBC attributes of a connection string lead on this machine.
struct OdbcTarget {
    enum class Route {
        Odbc,         // `connectionString` goes to unixODBC
        NativeSqlite, // the SQLite driver of the templates: served by SQLite directly
        TextFolder,   // the text driver: served by the text provider
        AccessFile,   // the Access drivers: `connectionString` is a jet provider string
        Missing,      // no driver here; `error` names it
    };
    Route route = Route::Missing;
    std::string connectionString; // GBK
    bool gbk = false;             // the driver's client character set is GBK (else UTF-8)
    std::string error;
};

// Maps the attributes of a "Driver=..." (or "DSN=...") connection string.
OdbcTarget MapOdbcDriver(const ConnectionString& odbc);
// Maps a SQL Server OLE DB connection string (Data Source, Initial Catalog, User Id,
// Password) to the FreeTDS driver.
OdbcTarget MapSqlServerOledb(const ConnectionString& oledb);

class OdbcSession : public Session {
public:
    struct Options {
        std::string providerName;
        bool gbk = false;
        bool readOnly = false;
        int loginTimeout = 15; // seconds
    };

    // Connects with SQLDriverConnect. Null on failure, with the driver's diagnostic.
    static std::unique_ptr<OdbcSession> Open(const std::string& connectionString, Options options,
                                             ProviderError& error);

    ~OdbcSession() override;
    OdbcSession(const OdbcSession&) = delete;
    OdbcSession& operator=(const OdbcSession&) = delete;

    std::string ProviderName() const override { return options_.providerName; }
    bool ReadOnly() const override { return options_.readOnly; }
    bool Execute(std::string_view sql, std::span<const Variant> parameters, StatementResult& out,
                 ProviderError& error) override;
    bool Begin(int level, ProviderError& error) override;
    bool Commit(int level, ProviderError& error) override;
    bool Rollback(int level, ProviderError& error) override;
    void SetCommandTimeout(int seconds) override { commandTimeout_ = seconds; }
    bool InsertRow(const RowChange& change, ProviderError& error) override;
    bool UpdateRow(const RowChange& change, ProviderError& error) override;
    bool DeleteRow(const RowChange& change, ProviderError& error) override;
    bool Tables(StatementResult& out, ProviderError& error) override;
    bool CallProcedure(std::string_view name, std::vector<Variant>& values,
                       const std::vector<int>& directions, StatementResult& out,
                       ProviderError& error) override;

    // The database product the driver reports ("MariaDB", "SQLite", ...).
    const std::string& DbmsName() const { return dbms_; }

private:
    enum class Dialect { Other, MySql, Sqlite, SqlServer };

    OdbcSession(void* environment, void* connection, Options options);

    std::string ToDb(std::string_view gbk) const;
    std::string FromDb(std::string_view bytes) const;
    bool Fail(short handleType, void* handle, ProviderError& error) const;
    bool Refuse(ProviderError& error, std::string description) const;
    bool Run(std::string_view sql, std::span<const Variant> parameters, StatementResult& out,
             ProviderError& error);
    bool SetAutocommit(bool on, ProviderError& error);
    void MarkKeys(std::vector<ColumnInfo>& columns) const;
    std::vector<std::string> PrimaryKeys(const std::string& table) const;
    std::string Quote(std::string_view name) const;
    std::string LocateClause(const RowChange& change, const std::string& table,
                             std::vector<Variant>& parameters, bool& byKey) const;
    bool LocateOne(const RowChange& change, const std::string& table, std::string& where,
                   std::vector<Variant>& parameters, const char* missing, ProviderError& error);
    bool LastIdentity(Variant& out);

    void* environment_;
    void* connection_;
    Options options_;
    std::string dbms_;
    Dialect dialect_ = Dialect::Other;
    std::string quote_ = "\"";
    int commandTimeout_ = 30;
};

} // namespace vm::ado
