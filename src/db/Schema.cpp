// The schema, DDL and maintenance operations of DbConnection: statements in the dialect of the
// open data source, listings through DbRecordset, table export and Access compaction.

#include "db/DbConnection.h"
#include "db/DbRecordset.h"

#include "platform/automation/Com.h"
#include "platform/automation/Object.h"
#include "platform/fs/File.h"
#include "platform/fs/Path.h"
#include "platform/kernel/Thread.h"
#include "platform/text/Gbk.h"

#include <cstdio>

namespace vm::db {
namespace {

using automation::Object;
using automation::Variant;

// Where a path's extension starts, as the shell's extension finder has it: the last "." of the
// last component, forgotten again at a separator or a space. Two-byte characters are skipped
// whole, since their trail byte may be "\".
std::string ExtensionUpper(const std::string& path) {
    std::size_t dot = std::string::npos;
    for (std::size_t i = 0; i < path.size(); i += text::CharLengthAt(path, i)) {
        const char c = path[i];
        if (c == '\\' || c == '/' || c == ' ')
            dot = std::string::npos;
        else if (c == '.')
            dot = i;
    }
    if (dot == std::string::npos)
        return std::string();
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return extension;
}

// The index's name: the one given, else "IX_" table "_" columns, written back to the caller.
std::string IndexName(const std::string& table, const std::string& columns,
                      std::string* indexName) {
    std::string name = indexName ? *indexName : std::string();
    if (name.empty())
        name = "IX_" + table + "_" + columns;
    if (indexName)
        *indexName = name;
    return name;
}

std::string LastComponent(const std::string& path) {
    return path.substr(FolderPart(path).size());
}

// Reads one column of every row of `statement` into "name,name,...,".
std::string ListColumn(const Object& connection, const std::string& statement,
                       const std::string& column) {
    std::string list;
    DbRecordset rows;
    rows.setConnectionObject(connection);
    if (!rows.open(statement, 1))
        return list;
    while (!rows.isEof()) {
        std::string name;
        rows.readText(column, name);
        list += name + ",";
        if (!rows.moveNext())
            break;
    }
    rows.close();
    return list;
}

} // namespace

bool DbConnection::RunDdl(const char* label) {
    Variant statement(lastSql);
    Variant affected(std::int32_t{0});
    const Object result =
        adoConnection.CallObject("Execute", {Variant::Ref(statement), Variant::Ref(affected)});
    const bool called = automation::LastCallError() == 0;
    (void)result; // released here; DDL returns no rows worth keeping
    debugNote(label);
    // A failed call reports -1 records: only a positive count proves work was done, and a
    // call that failed before the provider ran (closed connection) is no success either.
    std::int32_t count = 0;
    if (called && affected.ToInt32(count) && count > 0)
        return true;
    return called && lastErrorDescription().empty();
}

std::int32_t DbConnection::exportTable(const std::string& table, const std::string& target,
                                       const std::string& sheet, const std::string& columns,
                                       const std::string& condition, bool header) {
    const std::string headerText = header ? "YES" : "NO";
    const std::string extension = ExtensionUpper(target);
    const std::string folder = FolderPart(target);
    std::string& sql = SqlBuffer();
    if (extension == "TXT" || extension == "CSV")
        sql = "Select " + columns + " Into [Text;HDR=" + headerText + ";Database=" + folder +
              ";]." + LastComponent(target) + " From " + table;
    else if (extension == "XLS")
        sql = "Select " + columns + " Into [Excel 8.0;HDR=NO;DATABASE=" + target + ";]." + sheet +
              " From " + table;
    else
        return -1;
    if (!condition.empty())
        sql += " WHERE " + condition;

    // The text route may describe its new file in a schema.ini; remove only one the export
    // created, never a description the folder already had.
    const std::string schema = folder + "schema.ini";
    const bool hadSchema = fs::Exists(schema);
    Variant statement(sql);
    Variant affected(std::int32_t{-1});
    adoConnection.CallObject("Execute", {Variant::Ref(statement), Variant::Ref(affected)});
    if (!hadSchema)
        fs::DeleteFile(schema);
    std::int32_t count = -1;
    if (!affected.ToInt32(count))
        count = -1;
    return count;
}

bool DbConnection::createDatabase(const std::string& name) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "Create DataBase " + name;
    return RunDdl("创建库");
}

bool DbConnection::dropDatabase(const std::string& name) {
    lastSql = "Drop DataBase " + name;
    return RunDdl("删除库");
}

bool DbConnection::createTable(const std::string& table, const std::vector<FieldDef>& fields) {
    if (fields.empty() || dbKind == kDbOther)
        return false;
    lastSql.clear();
    for (const FieldDef& field : fields)
        lastSql += field.columnName + " " + columnTypeName(field) + " " +
                   columnConstraintText(field) + ",";
    lastSql.pop_back();
    lastSql = "Create table " + table + " (" + lastSql + ")";
    if (dbKind == kDbMySql)
        lastSql += "ENGINE=MyISAM DEFAULT CHARSET=gbk";
    return RunDdl("创建表");
}

bool DbConnection::dropTable(const std::string& table) {
    lastSql = "Drop table " + table;
    return RunDdl("删除表");
}

bool DbConnection::truncateTable(const std::string& table) {
    lastSql = "TRUNCATE table " + table;
    return RunDdl("清空表");
}

bool DbConnection::createIndex(const std::string& table, const std::string& columns,
                               std::string* indexName) {
    if (dbKind == kDbOther)
        return false;
    const std::string name = IndexName(table, columns, indexName);
    lastSql = "Create Index " + name + " on " + table + " (" + columns + ")";
    return RunDdl("创建索引");
}

bool DbConnection::dropIndex(const std::string& table, const std::string& columns,
                             std::string* indexName) {
    if (dbKind == kDbOther)
        return false;
    const std::string name = IndexName(table, columns, indexName);
    // "table.name" is SQL Server's form only: SQLite reads it as a database "table" and MySQL
    // wants "on table" as Access does, so there it could never succeed.
    if (dbKind == kDbAccess || dbKind == kDbMySql)
        lastSql = "Drop Index " + name + " on " + table;
    else if (dbKind == kDbSqlite)
        lastSql = "Drop Index " + name;
    else
        lastSql = "Drop Index " + table + "." + name;
    return RunDdl("删除索引");
}

bool DbConnection::addColumn(const std::string& table, const std::string& column,
                             const FieldDef& def) {
    if (dbKind == kDbOther)
        return false;
    lastSql.clear();
    lastSql = columnTypeName(def) + " " + columnConstraintText(def) + " ";
    lastSql = "ALTER TABLE " + table + " ADD " + column + " " + lastSql;
    return RunDdl("新增字段");
}

bool DbConnection::alterColumn(const std::string& table, const std::string& column,
                               const FieldDef& def) {
    if (dbKind == kDbOther)
        return false;
    lastSql.clear();
    lastSql = columnTypeName(def) + " " + columnConstraintText(def) + " ";
    // MySQL has no "ALTER COLUMN" that takes a type: there the column is redefined with MODIFY.
    const char* verb = dbKind == kDbMySql ? " MODIFY COLUMN " : " ALTER COLUMN ";
    lastSql = "ALTER TABLE " + table + verb + column + " " + lastSql;
    return RunDdl("修改字段");
}

bool DbConnection::dropColumn(const std::string& table, const std::string& column) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "ALTER TABLE " + table + " Drop COLUMN " + column;
    return RunDdl("删除字段");
}

bool DbConnection::createLogin(const std::string& login, const std::string& password) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "Exec sp_addlogin '" + login + "','" + password + "'";
    return RunDdl("创建用户");
}

bool DbConnection::dropLogin(const std::string& login) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "Exec sp_Droplogin " + login;
    return RunDdl("删除用户");
}

bool DbConnection::useDatabase(const std::string& name) {
    if (dbKind == kDbOther)
        return false;
    databaseName = name;
    lastSql = "Use " + name;
    return RunDdl("选择库");
}

std::string DbConnection::listDatabases(int which) {
    if (adoConnection.GetNumber("State") == 0)
        return std::string();
    std::string& sql = SqlBuffer();
    if (dbKind == kDbMySql && which == 1)
        sql = "select DISTINCT TABLE_SCHEMA as name FROM information_schema.COLUMNS";
    else if (dbKind == kDbMySql && which == 0)
        sql = "select DISTINCT TABLE_SCHEMA as name FROM information_schema.COLUMNS WHERE "
              "TABLE_SCHEMA not in ('information_schema','mysql')";
    else if (dbKind == kDbSqlServer && which == 1)
        sql = "select name from master.dbo.sysdatabases";
    else if (dbKind == kDbSqlServer && which == 0)
        sql = "select name from master.dbo.sysdatabases where name not in "
              "('master','model','msdb','tempdb')";
    else
        return std::string();
    return ListColumn(adoConnection, sql, "name");
}

std::string DbConnection::listTables(int which, int method) {
    if (adoConnection.GetNumber("State") == 0)
        return std::string();
    std::string list;
    if (method == 0) {
        const Object schema = adoConnection.CallObject("OpenSchema", {Variant(std::int32_t{20})});
        if (schema.IsNull())
            return list;
        // An unreadable end flag ends the walk rather than looping on a broken rowset.
        while (schema.Get("EOF").Type() == automation::VT_BOOL && !schema.GetBool("EOF")) {
            const Object fields = schema.GetObject("Fields");
            const std::string name =
                fields.GetObject("Item", {Variant("TABLE_NAME")}).GetText("Value");
            const std::string type =
                fields.GetObject("Item", {Variant("TABLE_TYPE")}).GetText("Value");
            if (which != 0 || type == "TABLE")
                list += name + ",";
            schema.Call("MoveNext");
            if (automation::LastCallError() != 0)
                break;
        }
        schema.Call("Close");
        return list;
    }
    if (method != 1)
        return list;
    std::string& sql = SqlBuffer();
    std::string column;
    switch (dbKind) {
    case kDbAccess:
        sql = which == 1 ? "select name as title from MSysObjects where type=1"
                         : "select name as title from MSysObjects where type=1 and flags=0";
        column = "title";
        break;
    case kDbSqlite:
        sql = which == 1 ? "select name as title from sqlite_master where type='table'"
                         : "select name as title from sqlite_master where type='table' and name "
                           "not like('sqlite%')";
        column = "title";
        break;
    case kDbSqlServer:
        sql = which == 1 ? "select name from sysobjects where type IN ('U','S')"
                         : "select name from sysobjects where type='U'";
        column = "name";
        break;
    case kDbMySql:
        sql = "select DISTINCT TABLE_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA = '" +
              databaseName + "'";
        column = "TABLE_NAME";
        break;
    default:
        sql.clear();
        return list;
    }
    return ListColumn(adoConnection, sql, column);
}

bool DbConnection::shrinkDatabase(const std::string& name) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "DBCC SHRINKDATABASE (" + name + ")";
    return RunDdl("压缩数据库");
}

bool DbConnection::truncateLog(const std::string& name) {
    if (dbKind == kDbOther)
        return false;
    lastSql = "DUMP TRANSACTION " + name + " WITH NO_LOG";
    return RunDdl("清空日志");
}

int DbConnection::compactAccess(const std::string& path, const std::string& password) {
    if (dbKind != kDbAccess)
        return 1;
    Object engine = automation::CreateObject("JRO.JetEngine");
    if (engine.IsNull())
        return 1;

    const std::string folder = fs::TempFolder();
    std::string temporary;
    static std::uint32_t counter = 0;
    do {
        char name[32];
        std::snprintf(name, sizeof name, "%X.tmp", kernel::TickCount() + ++counter);
        temporary = folder + name;
    } while (fs::Exists(temporary));

    const std::string source = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
                               ";Jet OLEDB:DataBase Password=" + password;
    const std::string compacted = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + temporary +
                                  ";Jet OLEDB:DataBase Password=" + password;
    engine.Call("CompactDataBase", {Variant(source), Variant(compacted)});
    if (!automation::LastCallErrorText().empty())
        return 2;
    engine.Reset();
    // Moved into place in one step, so the database is never missing: the original stays
    // until the compacted copy replaces it.
    if (!fs::MoveFile(temporary, path)) {
        fs::DeleteFile(temporary);
        return 3;
    }
    return 0;
}

std::string DbConnection::columnConstraintText(const FieldDef& def) {
    std::string text;
    if (def.attributes == 16) {
        if (dbKind == kDbAccess)
            text = "Counter ";
        else if (dbKind == kDbSqlServer)
            text = "IDENTITY (1, 1) ";
        else if (dbKind == kDbMySql)
            text = "AUTO_INCREMENT ";
    } else {
        text = def.attributes == 32 ? "NULL " : "NOT NULL ";
        if (!def.defaultValue.empty())
            text += "Default (" + def.defaultValue + ") ";
    }
    if (def.primaryKey == 1) {
        if (dbKind == kDbAccess || dbKind == kDbSqlServer)
            text += "Primary Key ";
        else if (dbKind == kDbMySql)
            text += ",PRIMARY KEY (" + def.columnName + ") ";
    }
    return text;
}

std::string DbConnection::columnTypeName(const FieldDef& def) {
    // Columns: Access, SQL Server, SQLite, MySQL. Kind 0 has no dialect and gets no type.
    struct Names {
        std::int32_t type;
        const char* byKind[4];
    };
    static const Names kNames[] = {
        {3, {"integer", "int", "Integer", "int"}},
        {20, {"Long", "BigInt", "BigInt", "BigInt"}},
        {4, {"Single", "Float", "Float", "Float"}},
        {5, {"Double", "Double", "Double", "Double"}},
        {7, {"Date/Time", "smalldatetime", "DateTime", "datetime"}},
        {201, {"Memo", "Text", "Text", "LongText"}},
        {11, {"Yes/No", "bit", "Bit", "Bool"}},
        {205, {"OLE Object", "image", "Blob", "LongBlob"}},
        {200, {"Text", "VarChar", "VarChar", "VarChar"}},
        // The wide forms, which the Access provider reports for Text(n) and Memo columns.
        {202, {"Text", "VarChar", "VarChar", "VarChar"}},
        {203, {"Memo", "Text", "Text", "LongText"}},
    };
    if (dbKind < kDbAccess || dbKind > kDbMySql)
        return std::string();
    for (const Names& names : kNames) {
        if (names.type != def.dataType)
            continue;
        std::string name = names.byKind[dbKind - 1];
        if (def.dataType == 200 || def.dataType == 202)
            name += "(" + std::to_string(def.definedSize > 0 ? def.definedSize : 100) + ")";
        return name;
    }
    return std::string();
}

} // namespace vm::db
