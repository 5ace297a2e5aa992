#pragma once
// DbConnection: the program's wrapper around one "ADODB.Connection", reached only by member name
// (late binding). It builds the connection strings of the data sources it knows, opens and
// closes, runs statements, keeps transactions and timeouts and reports the provider's last
// error. Failures are results (false, empty, 0), never exceptions. Texts are GBK.
//
// The operations are virtual in the class's slot order (destruction and copying come first, as
// the destructor and the copy operations). Copies share the COM connection.

#include "platform/automation/Object.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vm::db {

// Kind of the open data source; selects the SQL dialect of the schema operations.
enum DbKind : std::int32_t {
    kDbOther = 0, // raw connection string, delimited text, dBase/FoxPro
    kDbAccess = 1,
    kDbSqlServer = 2,
    kDbSqlite = 3,
    kDbMySql = 4,
};

// One column description (table creation, delimited-text schemas, field information).
struct FieldDef {
    std::string columnName;
    std::int32_t dataType = 0; // ADO type: 3, 4, 5, 7, 11, 20, 200 (202), 201 (203), 205
    std::string defaultValue;
    std::int32_t primaryKey = 0; // 1 = primary key
    std::int32_t definedSize = 0;
    std::int32_t actualSize = 0;
    std::int32_t attributes = 0; // 16 auto-increment, 32 nullable, else not null
};

// Scratch text shared by the statement-building operations of the database classes.
std::string& SqlBuffer();

class DbConnection {
public:
    DbConnection();
    virtual ~DbConnection();
    DbConnection(const DbConnection& other);
    DbConnection& operator=(const DbConnection& other);

    virtual bool open(const std::string& connectionString);
    // Writes Schema.ini beside the file and opens its folder as a text database. An empty field
    // list becomes one field F1 in the caller's array.
    virtual bool openText(const std::string& path, std::vector<FieldDef>* fields = nullptr,
                          bool header = false, const std::string& delimiter = ",",
                          const std::string& characterSet = "ANSI", int route = 0);
    virtual bool openDbase(const std::string& path, int route, int version = 3, int driver = 0);
    virtual bool openSqlite(const std::string& path, const std::string& password, int route);
    virtual bool openExcel(const std::string& path, int route, bool header = true);
    virtual bool openExcel2007(const std::string& path, int route, bool header = false);
    virtual bool openAccess(const std::string& path, const std::string& password = "",
                            int route = 0);
    virtual bool openAccess2007(const std::string& path, const std::string& password, int route);
    virtual bool openSqlServer(const std::string& server, const std::string& database,
                               const std::optional<std::string>& user, const std::string& password,
                               int route);
    virtual bool openOracle(const std::string& server, const std::optional<std::string>& user,
                            const std::string& password, int route, int provider = 1);
    virtual bool openMySql(const std::string& server, const std::string& database,
                           const std::optional<std::string>& user, const std::string& password,
                           std::optional<std::uint16_t> port,
                           const std::optional<std::string>& version, int route);
    virtual void setDebug(int value);
    virtual void debugNote(const std::string& label);
    virtual std::string getConnectionString();
    virtual bool close();
    virtual void closeIfOpen();
    virtual bool execute(const std::string& statement, std::int32_t& recordsAffected);
    virtual double getMode();
    virtual bool setMode(int mode);
    virtual double getTimeout(bool commandTimeout);
    virtual bool setTimeout(int seconds, bool commandTimeout);
    virtual double beginTrans();
    virtual bool commitTrans();
    virtual bool rollbackTrans();
    virtual std::string lastErrorDescription();
    virtual bool isOpen();
    virtual std::string getProvider();
    virtual std::string getVersion();
    virtual automation::Object getComObject();
    virtual void setComObject(const automation::Object& object);

    // Schema, DDL and maintenance, in the dialect of `dbKind`. Each builds its statement in
    // `lastSql` (readable through `lastStatement`); a provider error leaves it there.
    // Exports through "Select ... Into [Text;...]" (.txt, .csv) or [Excel 8.0;...] (.xls);
    // -1 for any other extension, else the records affected (-1 when not reported).
    virtual std::int32_t exportTable(const std::string& table, const std::string& target,
                                     const std::string& sheet = "Table",
                                     const std::string& columns = "*",
                                     const std::string& condition = "", bool header = false);
    virtual bool createDatabase(const std::string& name);
    virtual bool dropDatabase(const std::string& name);
    virtual bool createTable(const std::string& table, const std::vector<FieldDef>& fields);
    virtual bool dropTable(const std::string& table);
    virtual bool truncateTable(const std::string& table);
    // An empty index name becomes "IX_" table "_" columns, written back to the caller.
    virtual bool createIndex(const std::string& table, const std::string& columns,
                             std::string* indexName = nullptr);
    virtual bool dropIndex(const std::string& table, const std::string& columns,
                           std::string* indexName = nullptr);
    virtual bool addColumn(const std::string& table, const std::string& column,
                           const FieldDef& def);
    virtual bool alterColumn(const std::string& table, const std::string& column,
                             const FieldDef& def);
    virtual bool dropColumn(const std::string& table, const std::string& column);
    virtual bool createLogin(const std::string& login, const std::string& password);
    virtual bool dropLogin(const std::string& login);
    virtual bool useDatabase(const std::string& name);
    // Names each followed by ","; which 1 all, 0 user databases/tables only. listTables method
    // 0 reads the provider's tables schema, 1 the dialect's catalogue query.
    virtual std::string listDatabases(int which);
    virtual std::string listTables(int which, int method);
    virtual bool shrinkDatabase(const std::string& name);
    virtual bool truncateLog(const std::string& name);
    // 0 done, 1 not Access or no compaction engine, 2 compaction failed, 3 replacing failed.
    virtual int compactAccess(const std::string& path, const std::string& password);
    virtual std::string columnConstraintText(const FieldDef& def);
    virtual std::string columnTypeName(const FieldDef& def);

    DbKind kind() const { return dbKind; }
    const std::string& currentDatabase() const { return databaseName; }
    int debug() const { return debugMode; }
    const std::string& lastStatement() const { return lastSql; }

protected:
    automation::Object adoConnection;
    DbKind dbKind = kDbOther;
    std::string connectionString;
    std::string databaseName;
    std::string lastSql;
    std::int32_t debugMode = 0;

private:
    // Steps 4 and 5 of every open: "close" (its error ignored), "open", then "State".
    bool OpenWith(const std::string& text);
    // Steps 2-5 of every DDL operation: run `lastSql`, note `label`, judge the outcome.
    bool RunDdl(const char* label);
};

// The folder part of a path: up to and including the last "\", or the last "/" when there is
// no "\"; empty when there is neither. Two-byte characters are never split.
std::string FolderPart(const std::string& path);

} // namespace vm::db
