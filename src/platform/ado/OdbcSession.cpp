#include "platform/ado/OdbcSession.h"

#include "platform/ado/Ado.h"
#include "platform/ado/FastText.h"
#include "platform/ado/RowChanges.h"
#include "platform/text/Gbk.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

namespace vm::ado {
namespace {

using automation::VT_BOOL;
using automation::VT_BSTR;
using automation::VT_BYTES;
using automation::VT_DATE;
using automation::VT_EMPTY;
using automation::VT_NULL;
using automation::VT_R4;
using automation::VT_R8;

constexpr const char* kErrorSource = "Microsoft OLE DB Provider for ODBC Drivers";

// ---------------------------------------------------------------------------------------------
// Driver mapping

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           text::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text::EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// An attribute value as ODBC connection strings carry it: braced when it holds a ";".
std::string OdbcValue(const std::string& value) {
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}')
        return value;
    if (value.find_first_of(";{}") == std::string::npos && text::Trim(value) == value)
        return value;
    return "{" + value + "}";
}

// The first attribute present among `keys`.
std::string FirstOf(const ConnectionString& cs, std::initializer_list<const char*> keys) {
    for (const char* key : keys)
        if (cs.Has(key))
            return cs.Get(key);
    return {};
}

void Append(std::string& out, const char* key, const std::string& value) {
    out += key;
    out += '=';
    out += OdbcValue(value);
    out += ';';
}

// "Set Names 'GBK'" -> "gbk"; empty for any other statement.
std::string SetNamesCharset(const std::string& statement) {
    std::string s = text::Trim(statement);
    if (!StartsWithNoCase(s, "set names"))
        return {};
    s = text::Trim(s.substr(9));
    if (s.size() >= 2 && (s.front() == '\'' || s.front() == '"' || s.front() == '`') &&
        s.back() == s.front())
        s = s.substr(1, s.size() - 2);
    if (s.empty() || s.find_first_of(" ;'\"") != std::string::npos)
        return {};
    return text::ToLowerAscii(s);
}

OdbcTarget Missing(std::string error) {
    OdbcTarget target;
    target.route = OdbcTarget::Route::Missing;
    target.error = std::move(error);
    return target;
}

OdbcTarget MapMySql(const ConnectionString& odbc) {
    OdbcTarget target;
    target.route = OdbcTarget::Route::Odbc;
    std::string& out = target.connectionString;
    out = "Driver={MariaDB Unicode};";
    Append(out, "Server", FirstOf(odbc, {"Server", "Host"}));
    if (odbc.Has("Port"))
        Append(out, "Port", odbc.Get("Port"));
    Append(out, "Database", FirstOf(odbc, {"Database", "DB"}));
    Append(out, "UID", FirstOf(odbc, {"UID", "User", "User Id"}));
    Append(out, "PWD", FirstOf(odbc, {"PWD", "Password"}));
    // The template's first statement sets the client character set; the driver's own switch
    // does that for every statement and every bind.
    std::string charset = text::ToLowerAscii(odbc.Get("CHARSET"));
    const std::string statement = odbc.Get("Stmt");
    if (charset.empty())
        charset = SetNamesCharset(statement);
    if (!charset.empty())
        Append(out, "CHARSET", charset);
    else if (!statement.empty())
        Append(out, "InitStmt", statement);
    // Updates report the rows they matched, not only the rows whose values changed: an edit
    // that writes a value already there still finds its row.
    out += "OPTION=2;";
    target.gbk = charset == "gbk" || charset == "gb2312";
    return target;
}

OdbcTarget MapFreeTds(const std::string& server, const std::string& database,
                      const std::string& user, const std::string& password) {
    OdbcTarget target;
    target.route = OdbcTarget::Route::Odbc;
    std::string& out = target.connectionString;
    out = "Driver={FreeTDS};";
    // "host,port" is the Windows client's way to name a port.
    const std::size_t comma = server.find(',');
    if (comma != std::string::npos) {
        Append(out, "Server", text::Trim(server.substr(0, comma)));
        Append(out, "Port", text::Trim(server.substr(comma + 1)));
    } else {
        Append(out, "Server", server);
    }
    Append(out, "Database", database);
    Append(out, "UID", user);
    Append(out, "PWD", password);
    out += "ClientCharset=GBK;";
    target.gbk = true;
    return target;
}

bool IsAccessDriver(std::string_view driver) {
    return StartsWithNoCase(driver, "Microsoft Access Driver") ||
           text::EqualsNoCase(driver, "MDBTools");
}

// Drivers of the templates that have no Linux counterpart, with what they serve.
const char* MissingKind(std::string_view driver) {
    if (StartsWithNoCase(driver, "Microsoft ODBC for Oracle") || StartsWithNoCase(driver, "Oracle"))
        return "Oracle";
    if (StartsWithNoCase(driver, "Microsoft Excel Driver"))
        return "Excel workbooks";
    if (StartsWithNoCase(driver, "Microsoft dBASE Driver"))
        return "dBASE files";
    if (StartsWithNoCase(driver, "Microsoft Visual FoxPro Driver") ||
        StartsWithNoCase(driver, "Microsoft FoxPro"))
        return "FoxPro tables";
    if (StartsWithNoCase(driver, "Microsoft Paradox Driver"))
        return "Paradox tables";
    return nullptr;
}

bool IsSqlServerDriver(std::string_view driver) {
    return text::EqualsNoCase(driver, "SQL Server") ||
           StartsWithNoCase(driver, "SQL Server Native Client") ||
           StartsWithNoCase(driver, "SQL Native Client") ||
           (StartsWithNoCase(driver, "ODBC Driver") && EndsWithNoCase(driver, "for SQL Server"));
}

// A jet provider string, every value quoted so that ";" in a path or password survives.
std::string JetQuoted(const std::string& value) {
    std::string out = "\"";
    for (const char c : value) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// ---------------------------------------------------------------------------------------------
// Values

struct Statement {
    SQLHSTMT handle = SQL_NULL_HSTMT;
    ~Statement() {
        if (handle != SQL_NULL_HSTMT)
            SQLFreeHandle(SQL_HANDLE_STMT, handle);
    }
};

// How a result column is read.
enum class Kind { Int, SmallInt, BigInt, Bit, Single, Double, Date, Time, Text, Binary };

Kind Describe(SQLSMALLINT sqlType, bool isUnsigned, SQLULEN size, SQLSMALLINT digits,
              ColumnInfo& column) {
    auto fixed = [&](int type, std::int64_t bytes) {
        column.type = type;
        column.definedSize = bytes;
        column.attributes |= adFldFixed;
    };
    switch (sqlType) {
    case SQL_TINYINT:
        fixed(isUnsigned ? adUnsignedTinyInt : adTinyInt, 1);
        return Kind::Int;
    case SQL_SMALLINT:
        fixed(isUnsigned ? adUnsignedSmallInt : adSmallInt, 2);
        return isUnsigned ? Kind::Int : Kind::SmallInt;
    case SQL_INTEGER:
        fixed(isUnsigned ? adUnsignedInt : adInteger, 4);
        return Kind::Int;
    case SQL_BIGINT:
        fixed(isUnsigned ? adUnsignedBigInt : adBigInt, 8);
        return Kind::BigInt;
    case SQL_BIT:
        fixed(adBoolean, 2);
        return Kind::Bit;
    case SQL_REAL:
        fixed(adSingle, 4);
        return Kind::Single;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        fixed(adDouble, 8);
        return Kind::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        fixed(adNumeric, 19);
        column.precision = static_cast<int>(size);
        column.numericScale = digits;
        return Kind::Double;
    case SQL_TYPE_DATE:
    case SQL_DATE:
        fixed(adDBDate, 6);
        return Kind::Date;
    case SQL_TYPE_TIME:
    case SQL_TIME:
        fixed(adDBTime, 6);
        return Kind::Time;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
        fixed(adDBTimeStamp, 16);
        return Kind::Date;
    case SQL_BINARY:
    case SQL_VARBINARY:
        column.type = sqlType == SQL_BINARY ? adBinary : adVarBinary;
        column.definedSize = static_cast<std::int64_t>(size);
        return Kind::Binary;
    case SQL_LONGVARBINARY:
        column.type = adLongVarBinary;
        column.definedSize = static_cast<std::int64_t>(std::min<SQLULEN>(size, 2147483647));
        column.attributes |= adFldLong;
        return Kind::Binary;
    case SQL_CHAR:
    case SQL_WCHAR:
        column.type = sqlType == SQL_CHAR ? adChar : adWChar;
        column.definedSize = static_cast<std::int64_t>(size);
        column.attributes |= adFldFixed;
        return Kind::Text;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
        column.type = sqlType == SQL_LONGVARCHAR ? adLongVarChar : adLongVarWChar;
        column.definedSize = static_cast<std::int64_t>(std::min<SQLULEN>(size, 2147483647));
        column.attributes |= adFldLong;
        return Kind::Text;
    case SQL_GUID:
        column.type = adGUID;
        column.definedSize = 16;
        return Kind::Text;
    case SQL_WVARCHAR:
        column.type = adVarWChar;
        column.definedSize = static_cast<std::int64_t>(size);
        return Kind::Text;
    default: // SQL_VARCHAR and anything the driver invents: read as text
        column.type = adVarChar;
        column.definedSize = static_cast<std::int64_t>(size);
        return Kind::Text;
    }
}

Variant IntegerVariant(std::int64_t value) {
    if (value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(value));
    return Variant::I8(value);
}

// SQL_SUCCESS_WITH_INFO counts as success; so does SQL_NO_DATA where the caller allows it.
bool Ok(SQLRETURN rc) {
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

std::string ColumnText(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field) {
    char buffer[512] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLColAttribute(stmt, column, field, buffer, sizeof buffer, &length, nullptr)))
        return {};
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

SQLLEN ColumnNumber(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLLEN value = 0;
    if (!Ok(SQLColAttribute(stmt, column, field, nullptr, 0, nullptr, &value)))
        return 0;
    return value;
}

// One value of the current row; false on a driver error.
bool ReadValue(SQLHSTMT stmt, SQLUSMALLINT column, Kind kind, Variant& out) {
    SQLLEN indicator = 0;
    SQLRETURN rc;
    switch (kind) {
    case Kind::Int:
    case Kind::SmallInt:
    case Kind::BigInt: {
        SQLBIGINT value = 0;
        rc = SQLGetData(stmt, column, SQL_C_SBIGINT, &value, 0, &indicator);
        if (!Ok(rc))
            return false;
        if (indicator == SQL_NULL_DATA)
            out = Variant::Null();
        else if (kind == Kind::SmallInt)
            out = Variant::I2(static_cast<std::int16_t>(value));
        else if (kind == Kind::BigInt)
            out = Variant::I8(value);
        else
            out = IntegerVariant(value);
        return true;
    }
    case Kind::Bit: {
        unsigned char value = 0;
        rc = SQLGetData(stmt, column, SQL_C_BIT, &value, 0, &indicator);
        if (!Ok(rc))
            return false;
        out = indicator == SQL_NULL_DATA ? Variant::Null() : Variant(value != 0);
        return true;
    }
    case Kind::Single:
    case Kind::Double: {
        double value = 0;
        rc = SQLGetData(stmt, column, SQL_C_DOUBLE, &value, 0, &indicator);
        if (!Ok(rc))
            return false;
        if (indicator == SQL_NULL_DATA)
            out = Variant::Null();
        else
            out = kind == Kind::Single ? Variant::R4(static_cast<float>(value)) : Variant(value);
        return true;
    }
    case Kind::Date:
    case Kind::Time: {
        SQL_TIMESTAMP_STRUCT value{};
        rc = SQLGetData(stmt, column, SQL_C_TYPE_TIMESTAMP, &value, 0, &indicator);
        if (!Ok(rc))
            return false;
        automation::DateParts parts;
        if (kind == Kind::Date) {
            parts.year = value.year;
            parts.month = value.month;
            parts.day = value.day;
        }
        parts.hour = value.hour;
        parts.minute = value.minute;
        parts.second = value.second;
        double date = 0;
        // A zero date ("0000-00-00") has no OLE date: it reads as Null.
        if (indicator == SQL_NULL_DATA || !automation::MakeOleDate(parts, date))
            out = Variant::Null();
        else
            out = Variant::Date(date);
        return true;
    }
    case Kind::Text:
    case Kind::Binary: {
        const bool binary = kind == Kind::Binary;
        std::string bytes;
        char buffer[8192];
        for (;;) {
            rc = SQLGetData(stmt, column, binary ? SQL_C_BINARY : SQL_C_CHAR, buffer, sizeof buffer,
                            &indicator);
            if (rc == SQL_NO_DATA)
                break;
            if (!Ok(rc))
                return false;
            if (indicator == SQL_NULL_DATA) {
                out = Variant::Null();
                return true;
            }
            std::size_t got;
            if (rc == SQL_SUCCESS && indicator != SQL_NO_TOTAL)
                got = static_cast<std::size_t>(indicator);
            else if (binary)
                got = sizeof buffer;
            else // truncated text: the buffer holds as much as fits, ended by a NUL
                got = strnlen(buffer, sizeof buffer - 1);
            bytes.append(buffer, std::min(got, sizeof buffer));
            if (rc == SQL_SUCCESS)
                break;
        }
        if (binary)
            out = Variant(automation::Bytes(bytes.begin(), bytes.end()));
        else
            out = Variant(std::move(bytes)); // converted by the caller
        return true;
    }
    }
    return false;
}

// The command timeout for drivers that do not keep one (MariaDB's refuses the attribute):
// cancels the statement from another thread when it runs past its deadline.
class Watchdog {
public:
    Watchdog(SQLHSTMT stmt, int seconds) {
        thread_ = std::thread([this, stmt, seconds] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                fired_ = true;
                SQLCancel(stmt);
            }
        });
    }
    ~Watchdog() { Stop(); }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    bool Fired() {
        std::lock_guard lock(mutex_);
        return fired_;
    }

    // Ends the watch; true when the statement was cancelled.
    bool Stop() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                done_ = true;
            }
            wake_.notify_all();
            thread_.join();
        }
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool fired_ = false;
    std::thread thread_;
};

// A bound parameter's storage; it lives until the statement has run.
struct Bound {
    SQLLEN indicator = 0;
    SQLBIGINT integer = 0;
    double real = 0;
    unsigned char bit = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    std::string bytes;
};

// The first diagnostic record of a handle (the cause; later ones only add context).
ProviderError Diagnose(SQLSMALLINT handleType, SQLHANDLE handle, bool gbk) {
    ProviderError error;
    error.source = kErrorSource;
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[2048] = {};
    SQLSMALLINT length = 0;
    if (handle && Ok(SQLGetDiagRec(handleType, handle, 1, state, &native, message, sizeof message,
                                   &length))) {
        error.sqlState = reinterpret_cast<const char*>(state);
        error.nativeError = static_cast<int>(native);
        const std::string_view text(
            reinterpret_cast<const char*>(message),
            strnlen(reinterpret_cast<const char*>(message), sizeof message));
        error.description = gbk ? std::string(text) : Utf8ToGbkFast(text);
    }
    if (error.description.empty())
        error.description = "[ODBC Driver Manager] The driver reported an error without a "
                            "message.";
    if (error.sqlState == "HYT00")
        error.description = "Query timeout expired: " + error.description;
    return error;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Mapping

OdbcTarget MapOdbcDriver(const ConnectionString& odbc) {
    const std::string driver = StripBraces(odbc.Get("Driver"));
    if (driver.empty()) {
        const std::string dsn = odbc.Get("DSN");
        if (dsn.empty())
            return Missing("[ODBC Driver Manager] Data source name not found and no default "
                           "driver specified");
        // A data source name of this machine's odbc.ini: the attributes go as they are.
        OdbcTarget target;
        target.route = OdbcTarget::Route::Odbc;
        for (const auto& [key, value] : odbc.Pieces())
            Append(target.connectionString, key.c_str(), value);
        target.gbk = text::EqualsNoCase(odbc.Get("CHARSET"), "gbk") ||
                     text::EqualsNoCase(odbc.Get("ClientCharset"), "GBK");
        return target;
    }
    if (text::EqualsNoCase(driver, "SQLite3 ODBC Driver")) {
        OdbcTarget target;
        target.route = OdbcTarget::Route::NativeSqlite;
        return target;
    }
    if (StartsWithNoCase(driver, "Microsoft Text Driver")) {
        OdbcTarget target;
        target.route = OdbcTarget::Route::TextFolder;
        return target;
    }
    if (IsAccessDriver(driver)) {
        // The Access file goes to the jet provider, which checks the database password (the
        // ODBC driver here does not) and reads the file in a child process.
        OdbcTarget target;
        target.route = OdbcTarget::Route::AccessFile;
        target.connectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" +
                                  JetQuoted(StripBraces(FirstOf(odbc, {"DBQ", "Database"}))) +
                                  ";Jet OLEDB:Database Password=" +
                                  JetQuoted(StripBraces(FirstOf(odbc, {"Pwd", "Password"}))) + ";";
        target.gbk = true;
        return target;
    }
    if (StartsWithNoCase(driver, "MySQL ODBC") && EndsWithNoCase(driver, "Driver"))
        return MapMySql(odbc);
    if (IsSqlServerDriver(driver))
        return MapFreeTds(FirstOf(odbc, {"Server", "Address", "Addr"}),
                          FirstOf(odbc, {"Database", "DataBase"}), odbc.Get("UID"),
                          FirstOf(odbc, {"PWD", "Password"}));
    if (const char* kind = MissingKind(driver))
        return Missing("[ODBC Driver Manager] Data source name not found and no default driver "
                       "specified: the driver {" +
                       driver +
                       "} is not installed on this machine (there is no Linux driver "
                       "for " +
                       kind + ").");
    // Any other name is a driver of this machine's odbcinst.ini ("MariaDB Unicode", "SQLite3",
    // "FreeTDS", ...): the attributes go as they are.
    OdbcTarget target;
    target.route = OdbcTarget::Route::Odbc;
    for (const auto& [key, value] : odbc.Pieces())
        Append(target.connectionString, key.c_str(), value);
    target.gbk = text::EqualsNoCase(odbc.Get("CHARSET"), "gbk") ||
                 text::EqualsNoCase(odbc.Get("ClientCharset"), "GBK");
    return target;
}

OdbcTarget MapSqlServerOledb(const ConnectionString& oledb) {
    return MapFreeTds(FirstOf(oledb, {"Data Source", "Server"}),
                      FirstOf(oledb, {"Initial Catalog", "Database"}),
                      FirstOf(oledb, {"User Id", "UID"}), FirstOf(oledb, {"Password", "PWD"}));
}

// ---------------------------------------------------------------------------------------------
// Session

OdbcSession::OdbcSession(void* environment, void* connection, Options options)
    : environment_(environment), connection_(connection), options_(std::move(options)) {
    char buffer[256] = {};
    SQLSMALLINT length = 0;
    if (Ok(SQLGetInfo(connection_, SQL_DBMS_NAME, buffer, sizeof buffer, &length)))
        dbms_.assign(buffer, strnlen(buffer, sizeof buffer));
    if (StartsWithNoCase(dbms_, "MariaDB") || StartsWithNoCase(dbms_, "MySQL"))
        dialect_ = Dialect::MySql;
    else if (StartsWithNoCase(dbms_, "SQLite"))
        dialect_ = Dialect::Sqlite;
    else if (dbms_.find("SQL Server") != std::string::npos)
        dialect_ = Dialect::SqlServer;
    char quote[8] = {};
    if (Ok(SQLGetInfo(connection_, SQL_IDENTIFIER_QUOTE_CHAR, quote, sizeof quote, &length)) &&
        quote[0] != '\0' && quote[0] != ' ')
        quote_.assign(quote, strnlen(quote, sizeof quote));
}

OdbcSession::~OdbcSession() {
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
    SQLFreeHandle(SQL_HANDLE_ENV, environment_);
}

std::unique_ptr<OdbcSession> OdbcSession::Open(const std::string& connectionString, Options options,
                                               ProviderError& error) {
    error = {};
    error.source = kErrorSource;
    SQLHENV environment = SQL_NULL_HENV;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment))) {
        error.description = "[ODBC Driver Manager] The driver manager could not be started.";
        error.sqlState = "IM004";
        return nullptr;
    }
    SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                  0);
    SQLHDBC connection = SQL_NULL_HDBC;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection))) {
        error.description = "[ODBC Driver Manager] Out of memory.";
        error.sqlState = "HY001";
        SQLFreeHandle(SQL_HANDLE_ENV, environment);
        return nullptr;
    }
    if (options.loginTimeout > 0)
        SQLSetConnectAttr(connection, SQL_ATTR_LOGIN_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(options.loginTimeout)),
                          0);
    std::string text = options.gbk ? connectionString : GbkToUtf8Fast(connectionString);
    SQLCHAR completed[1024];
    SQLSMALLINT length = 0;
    const SQLRETURN rc =
        SQLDriverConnect(connection, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                         static_cast<SQLSMALLINT>(std::min<std::size_t>(text.size(), 32767)),
                         completed, sizeof completed, &length, SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
        error = Diagnose(SQL_HANDLE_DBC, connection, options.gbk);
        if (error.sqlState == "IM002" || error.sqlState == "01000") {
            const std::string driver =
                StripBraces(ConnectionString(connectionString).Get("Driver"));
            if (!driver.empty())
                error.description +=
                    ": the driver {" + driver + "} is not installed on this machine.";
        }
        SQLFreeHandle(SQL_HANDLE_DBC, connection);
        SQLFreeHandle(SQL_HANDLE_ENV, environment);
        return nullptr;
    }
    if (options.readOnly)
        SQLSetConnectAttr(connection, SQL_ATTR_ACCESS_MODE,
                          reinterpret_cast<SQLPOINTER>(static_cast<SQLLEN>(SQL_MODE_READ_ONLY)), 0);
    return std::unique_ptr<OdbcSession>(
        new OdbcSession(environment, connection, std::move(options)));
}

std::string OdbcSession::ToDb(std::string_view gbk) const {
    return options_.gbk ? std::string(gbk) : GbkToUtf8Fast(gbk);
}

std::string OdbcSession::FromDb(std::string_view bytes) const {
    return options_.gbk ? std::string(bytes) : Utf8ToGbkFast(bytes);
}

bool OdbcSession::Fail(short handleType, void* handle, ProviderError& error) const {
    error = Diagnose(handleType, handle, options_.gbk);
    return false;
}

bool OdbcSession::Refuse(ProviderError& error, std::string description) const {
    error = {};
    error.source = kErrorSource;
    error.sqlState = "HY000";
    error.description = std::move(description);
    return false;
}

bool OdbcSession::Run(std::string_view sql, std::span<const Variant> parameters,
                      StatementResult& out, ProviderError& error) {
    out = {};
    Statement statement;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement.handle)))
        return Fail(SQL_HANDLE_DBC, connection_, error);
    SQLHSTMT stmt = statement.handle;
    // Drivers without a timeout say so with a warning and keep none; a watchdog stands in.
    std::unique_ptr<Watchdog> watchdog;
    if (commandTimeout_ > 0) {
        SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(commandTimeout_)), 0);
        SQLULEN kept = 0;
        if (!Ok(SQLGetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, &kept, 0, nullptr)) ||
            kept != static_cast<SQLULEN>(commandTimeout_))
            watchdog = std::make_unique<Watchdog>(stmt, commandTimeout_);
    }
    const auto failed = [&]() {
        const bool cancelled = watchdog && watchdog->Stop();
        Fail(SQL_HANDLE_STMT, stmt, error);
        if (cancelled && error.sqlState != "HYT00") {
            // A statement cancelled at its deadline may still end "successfully", with
            // whatever it had done: a timeout all the same.
            error.description = error.sqlState.empty()
                                    ? std::string("Query timeout expired")
                                    : "Query timeout expired: " + error.description;
            error.sqlState = "HYT00";
        }
        out = {};
        return false;
    };
    std::string text = ToDb(sql);
    if (text::Trim(text).empty())
        return Refuse(error, "Invalid SQL statement: the statement text is empty.");
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<SQLINTEGER>::max()))
        return Refuse(error, "The statement text is too long.");
    auto* sqlText = reinterpret_cast<SQLCHAR*>(text.data());
    const auto sqlLength = static_cast<SQLINTEGER>(text.size());

    SQLRETURN rc;
    std::vector<Bound> bound;
    if (parameters.empty()) {
        rc = SQLExecDirect(stmt, sqlText, sqlLength);
    } else {
        if (!Ok(SQLPrepare(stmt, sqlText, sqlLength)))
            return Fail(SQL_HANDLE_STMT, stmt, error);
        SQLSMALLINT markers = 0;
        if (!Ok(SQLNumParams(stmt, &markers)))
            markers = static_cast<SQLSMALLINT>(std::min<std::size_t>(parameters.size(), 32767));
        if (static_cast<std::size_t>(markers) > parameters.size())
            return Refuse(error, "No value given for one or more required parameters.");
        bound.resize(static_cast<std::size_t>(markers)); // never reallocated while bound
        for (SQLSMALLINT i = 0; i < markers; ++i) {
            Bound& b = bound[static_cast<std::size_t>(i)];
            const Variant& value = parameters[static_cast<std::size_t>(i)].Deref();
            SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR;
            SQLULEN size = 1;
            SQLSMALLINT digits = 0;
            SQLPOINTER data = nullptr;
            SQLLEN capacity = 0;
            switch (value.Type()) {
            case VT_EMPTY:
            case VT_NULL:
                b.indicator = SQL_NULL_DATA;
                data = b.bytes.data();
                break;
            case VT_BOOL:
                b.bit = value.IntValue() ? 1 : 0;
                cType = SQL_C_BIT, sqlType = SQL_BIT, data = &b.bit;
                break;
            case VT_R4:
            case VT_R8:
            case automation::VT_CY:
                b.real = value.DoubleValue();
                cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, size = 15, data = &b.real;
                break;
            case VT_DATE: {
                automation::DateParts parts;
                if (!automation::SplitOleDate(value.DoubleValue(), parts))
                    return Refuse(error, "Application uses a value of the wrong type for the "
                                         "current operation.");
                b.timestamp.year = static_cast<SQLSMALLINT>(parts.year);
                b.timestamp.month = static_cast<SQLUSMALLINT>(parts.month);
                b.timestamp.day = static_cast<SQLUSMALLINT>(parts.day);
                b.timestamp.hour = static_cast<SQLUSMALLINT>(parts.hour);
                b.timestamp.minute = static_cast<SQLUSMALLINT>(parts.minute);
                b.timestamp.second = static_cast<SQLUSMALLINT>(parts.second);
                cType = SQL_C_TYPE_TIMESTAMP, sqlType = SQL_TYPE_TIMESTAMP, size = 19;
                data = &b.timestamp;
                break;
            }
            case VT_BYTES: {
                const automation::Bytes& bytes = value.ByteArray();
                b.bytes.assign(bytes.begin(), bytes.end());
                b.indicator = static_cast<SQLLEN>(b.bytes.size());
                cType = SQL_C_BINARY;
                sqlType = b.bytes.size() > 8000 ? SQL_LONGVARBINARY : SQL_VARBINARY;
                size = std::max<SQLULEN>(b.bytes.size(), 1);
                data = b.bytes.data(), capacity = b.indicator;
                break;
            }
            default:
                if (value.Type() != VT_BSTR && value.IsNumeric()) {
                    b.integer = value.IntValue();
                    cType = SQL_C_SBIGINT, sqlType = SQL_BIGINT, size = 19, data = &b.integer;
                    break;
                }
                std::string gbk;
                if (value.Type() == VT_BSTR)
                    gbk = value.Text();
                else if (!value.ToText(gbk))
                    return Refuse(error, "Application uses a value of the wrong type for the "
                                         "current operation.");
                b.bytes = ToDb(gbk);
                b.indicator = static_cast<SQLLEN>(b.bytes.size());
                sqlType = b.bytes.size() > 8000 ? SQL_LONGVARCHAR : SQL_VARCHAR;
                size = std::max<SQLULEN>(b.bytes.size(), 1);
                data = b.bytes.data(), capacity = b.indicator;
                break;
            }
            if (!Ok(SQLBindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, cType,
                                     sqlType, size, digits, data, capacity, &b.indicator)))
                return Fail(SQL_HANDLE_STMT, stmt, error);
        }
        rc = SQLExecute(stmt);
    }
    // An UPDATE or DELETE that finds no row answers SQL_NO_DATA: no error, nothing changed.
    if (rc == SQL_NO_DATA) {
        out.recordsAffected = 0;
        return true;
    }
    if (!Ok(rc) || (watchdog && watchdog->Fired()))
        return failed();

    SQLSMALLINT columns = 0;
    if (!Ok(SQLNumResultCols(stmt, &columns)))
        return Fail(SQL_HANDLE_STMT, stmt, error);
    if (columns <= 0) {
        SQLLEN count = -1;
        if (!Ok(SQLRowCount(stmt, &count)) || count < 0)
            count = 0;
        out.recordsAffected = count;
        return true;
    }

    out.returnsRows = true;
    out.columns.resize(static_cast<std::size_t>(columns));
    std::vector<Kind> kinds(static_cast<std::size_t>(columns));
    for (SQLSMALLINT i = 0; i < columns; ++i) {
        ColumnInfo& column = out.columns[static_cast<std::size_t>(i)];
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLCHAR name[512] = {};
        SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0, nullable = SQL_NULLABLE_UNKNOWN;
        SQLULEN size = 0;
        if (!Ok(SQLDescribeCol(stmt, number, name, sizeof name, &nameLength, &sqlType, &size,
                               &digits, &nullable)))
            return Fail(SQL_HANDLE_STMT, stmt, error);
        column.name =
            FromDb(std::string_view(reinterpret_cast<const char*>(name),
                                    strnlen(reinterpret_cast<const char*>(name), sizeof name)));
        column.attributes = 0;
        const bool isUnsigned = ColumnNumber(stmt, number, SQL_DESC_UNSIGNED) == SQL_TRUE &&
                                sqlType != SQL_CHAR && sqlType != SQL_VARCHAR;
        kinds[static_cast<std::size_t>(i)] = Describe(sqlType, isUnsigned, size, digits, column);
        column.baseTable = FromDb(ColumnText(stmt, number, SQL_DESC_BASE_TABLE_NAME));
        column.baseColumn = FromDb(ColumnText(stmt, number, SQL_DESC_BASE_COLUMN_NAME));
        if (!column.baseTable.empty() && column.baseColumn.empty())
            column.baseColumn = column.name;
        if (nullable != SQL_NO_NULLS)
            column.attributes |= adFldIsNullable | adFldMayBeNull;
        if (column.baseTable.empty() || options_.readOnly)
            column.attributes |= adFldUnknownUpdatable;
        else
            column.attributes |= adFldUpdatable;
    }
    for (;;) {
        rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA)
            break;
        if (!Ok(rc))
            return failed();
        Row row(static_cast<std::size_t>(columns));
        for (SQLSMALLINT i = 0; i < columns; ++i) {
            Variant& value = row[static_cast<std::size_t>(i)];
            const Kind kind = kinds[static_cast<std::size_t>(i)];
            if (!ReadValue(stmt, static_cast<SQLUSMALLINT>(i + 1), kind, value))
                return failed();
            if (kind == Kind::Text && value.Type() == VT_BSTR)
                value = Variant(FromDb(value.Text()));
        }
        out.rows.push_back(std::move(row));
    }
    if (watchdog && watchdog->Stop())
        return failed();
    SQLCloseCursor(stmt);
    MarkKeys(out.columns);
    return true;
}

std::vector<std::string> OdbcSession::PrimaryKeys(const std::string& table) const {
    std::vector<std::string> keys;
    Statement statement;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement.handle)))
        return keys;
    std::string name = ToDb(table);
    if (!Ok(SQLPrimaryKeys(statement.handle, nullptr, 0, nullptr, 0,
                           reinterpret_cast<SQLCHAR*>(name.data()),
                           static_cast<SQLSMALLINT>(std::min<std::size_t>(name.size(), 32767)))))
        return keys;
    while (Ok(SQLFetch(statement.handle))) {
        Variant column;
        if (ReadValue(statement.handle, 4, Kind::Text, column) && column.Type() == VT_BSTR)
            keys.push_back(FromDb(column.Text()));
    }
    return keys;
}

void OdbcSession::MarkKeys(std::vector<ColumnInfo>& columns) const {
    std::set<std::string> tables;
    for (const ColumnInfo& column : columns)
        if (!column.baseTable.empty())
            tables.insert(column.baseTable);
    for (const std::string& table : tables) {
        const std::vector<std::string> keys = PrimaryKeys(table);
        for (ColumnInfo& column : columns)
            if (column.baseTable == table &&
                std::any_of(keys.begin(), keys.end(), [&](const std::string& key) {
                    return text::EqualsNoCase(key, column.baseColumn);
                })) {
                column.key = true;
                column.attributes |= adFldKeyColumn;
            }
    }
}

bool OdbcSession::Execute(std::string_view sql, std::span<const Variant> parameters,
                          StatementResult& out, ProviderError& error) {
    return Run(sql, parameters, out, error);
}

// MySQL's CALL hands output parameters back through session variables: each output is given
// one, filled first for an input-and-output parameter, and read after the call. A function
// (a return value) is selected. Other servers take the ODBC call escape with inputs only.
bool OdbcSession::CallProcedure(std::string_view name, std::vector<Variant>& values,
                                const std::vector<int>& directions, StatementResult& out,
                                ProviderError& error) {
    out = {};
    if (values.size() != directions.size())
        return Refuse(error, "Parameter object is improperly defined. Inconsistent or incomplete "
                             "information was provided.");
    const std::string procedure = text::Trim(std::string(name));
    if (procedure.empty() || procedure.find_first_of(";()'\"") != std::string::npos)
        return Refuse(error, "The stored procedure name '" + procedure + "' is not valid.");
    std::size_t returnAt = values.size();
    bool outputs = false;
    for (std::size_t i = 0; i < directions.size(); ++i) {
        if (directions[i] == 4) {
            if (returnAt != values.size())
                return Refuse(error, "A command has one return-value parameter at most.");
            returnAt = i;
        } else if (directions[i] == 2 || directions[i] == 3) {
            outputs = true;
        }
    }
    if (dialect_ != Dialect::MySql) {
        if (outputs || returnAt != values.size())
            return Refuse(error, "Output and return-value parameters of stored procedures are "
                                 "read here from MySQL servers only.");
        std::string marks;
        for (std::size_t i = 0; i < values.size(); ++i)
            marks += i ? ",?" : "?";
        return Run("{call " + procedure + "(" + marks + ")}", values, out, error);
    }
    if (outputs && returnAt != values.size())
        return Refuse(error, "A function takes input parameters only.");
    std::string arguments, readBack;
    std::vector<Variant> inputs;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i == returnAt)
            continue;
        arguments += arguments.empty() ? "" : ", ";
        if (directions[i] != 2 && directions[i] != 3) {
            arguments += "?";
            inputs.push_back(values[i]);
            continue;
        }
        const std::string variable = "@vm_out" + std::to_string(i);
        StatementResult ignored;
        const Variant start = directions[i] == 3 ? values[i] : Variant::Null();
        if (!Run("SET " + variable + " = ?", std::span<const Variant>(&start, 1), ignored, error))
            return false;
        arguments += variable;
        readBack += (readBack.empty() ? "" : ", ") + variable;
    }
    if (returnAt != values.size()) {
        StatementResult result;
        if (!Run("SELECT " + procedure + "(" + arguments + ")", inputs, result, error))
            return false;
        values[returnAt] = result.rows.empty() ? Variant::Null() : result.rows[0][0];
        out.recordsAffected = 0;
        return true;
    }
    if (!Run("CALL " + procedure + "(" + arguments + ")", inputs, out, error))
        return false;
    if (readBack.empty())
        return true;
    StatementResult read;
    if (!Run("SELECT " + readBack, {}, read, error))
        return false;
    for (std::size_t i = 0, k = 0; i < values.size() && !read.rows.empty(); ++i)
        if (directions[i] == 2 || directions[i] == 3)
            values[i] = read.rows[0][k++];
    return true;
}

bool OdbcSession::SetAutocommit(bool on, ProviderError& error) {
    const SQLRETURN rc = SQLSetConnectAttr(connection_, SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(
                                               on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
                                           0);
    return Ok(rc) || Fail(SQL_HANDLE_DBC, connection_, error);
}

// Level 1 is the driver's transaction; deeper levels are savepoints inside it.
bool OdbcSession::Begin(int level, ProviderError& error) {
    if (level <= 1)
        return SetAutocommit(false, error);
    StatementResult ignored;
    const std::string name = "vm_level_" + std::to_string(level);
    return Run(dialect_ == Dialect::SqlServer ? "SAVE TRANSACTION " + name : "SAVEPOINT " + name,
               {}, ignored, error);
}

bool OdbcSession::Commit(int level, ProviderError& error) {
    if (level <= 1) {
        if (!Ok(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_COMMIT)))
            return Fail(SQL_HANDLE_DBC, connection_, error);
        return SetAutocommit(true, error);
    }
    if (dialect_ == Dialect::SqlServer)
        return true; // a SQL Server savepoint ends with its transaction
    StatementResult ignored;
    return Run("RELEASE SAVEPOINT vm_level_" + std::to_string(level), {}, ignored, error);
}

bool OdbcSession::Rollback(int level, ProviderError& error) {
    if (level <= 1) {
        const bool rolledBack = Ok(SQLEndTran(SQL_HANDLE_DBC, connection_, SQL_ROLLBACK));
        ProviderError rollbackError;
        if (!rolledBack)
            Fail(SQL_HANDLE_DBC, connection_, rollbackError);
        // Autocommit comes back either way, so that the connection is usable again.
        if (!SetAutocommit(true, error))
            return false;
        if (!rolledBack)
            error = rollbackError;
        return rolledBack;
    }
    StatementResult ignored;
    const std::string name = "vm_level_" + std::to_string(level);
    if (dialect_ == Dialect::SqlServer)
        return Run("ROLLBACK TRANSACTION " + name, {}, ignored, error);
    return Run("ROLLBACK TO SAVEPOINT " + name, {}, ignored, error) &&
           Run("RELEASE SAVEPOINT " + name, {}, ignored, error);
}

std::string OdbcSession::Quote(std::string_view name) const {
    const char close = quote_ == "[" ? ']' : quote_[0];
    std::string out = quote_;
    for (const char c : name) {
        out += c;
        if (c == close)
            out += c;
    }
    out += close;
    return out;
}

// A WHERE clause that finds the row as it was read: by the primary key when the recordset
// holds all of it, otherwise by every comparable column it holds of the table.
std::string OdbcSession::LocateClause(const RowChange& change, const std::string& table,
                                      std::vector<Variant>& parameters, bool& byKey) const {
    const auto& columns = *change.columns;
    const std::vector<std::string> keys = PrimaryKeys(table);
    std::size_t keysHeld = 0;
    for (const ColumnInfo& column : columns)
        if (column.baseTable == table && column.key)
            ++keysHeld;
    byKey = !keys.empty() && keysHeld == keys.size();
    std::string where;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& column = columns[i];
        if (column.baseTable != table || (byKey && !column.key))
            continue;
        // Long texts and binaries do not compare with "=" everywhere.
        if (!byKey && (column.attributes & adFldLong))
            continue;
        if (!where.empty())
            where += " AND ";
        const Variant& original = (*change.original)[i];
        if (original.IsNull() || original.IsEmpty()) {
            where += Quote(column.baseColumn) + " IS NULL";
        } else {
            where += Quote(column.baseColumn) + " = ?";
            parameters.push_back(original);
        }
    }
    return where.empty() ? std::string() : " WHERE " + where;
}

// The clause must find exactly one row: without a key, identical rows would all be changed.
bool OdbcSession::LocateOne(const RowChange& change, const std::string& table, std::string& where,
                            std::vector<Variant>& parameters, const char* missing,
                            ProviderError& error) {
    bool byKey = false;
    std::vector<Variant> located;
    where = LocateClause(change, table, located, byKey);
    if (where.empty())
        return Refuse(error, "Insufficient key column information for updating or refreshing.");
    if (!byKey) {
        StatementResult counted;
        if (!Run("SELECT COUNT(*) FROM " + Quote(table) + where, located, counted, error))
            return false;
        std::int64_t count = 0;
        if (counted.rows.size() == 1)
            counted.rows[0][0].ToInt64(count);
        if (count == 0)
            return Refuse(error, missing);
        if (count > 1)
            return Refuse(error, "Key column information is insufficient or incorrect. Too "
                                 "many rows would be affected by the change.");
    }
    parameters.insert(parameters.end(), located.begin(), located.end());
    return true;
}

bool OdbcSession::LastIdentity(Variant& out) {
    const char* query = dialect_ == Dialect::MySql       ? "SELECT LAST_INSERT_ID()"
                        : dialect_ == Dialect::Sqlite    ? "SELECT last_insert_rowid()"
                        : dialect_ == Dialect::SqlServer ? "SELECT @@IDENTITY"
                                                         : nullptr;
    if (!query)
        return false;
    StatementResult result;
    ProviderError ignored;
    if (!Run(query, {}, result, ignored) || result.rows.size() != 1 || result.rows[0].empty() ||
        result.rows[0][0].IsNull())
        return false;
    out = result.rows[0][0];
    return true;
}

bool OdbcSession::InsertRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error, "Cannot update. Database or object is read-only.");
    std::string table;
    if (!BaseTableOf(change, table))
        return Refuse(error, "Insufficient key column information for updating or refreshing.");
    const QuoteName quote = [this](std::string_view name) { return Quote(name); };
    std::string names, marks;
    std::vector<Variant> parameters;
    InsertedColumns(change, table, quote, names, marks, parameters);
    std::string sql = "INSERT INTO " + Quote(table);
    if (!names.empty())
        sql += " (" + names + ") VALUES (" + marks + ")";
    else
        sql += dialect_ == Dialect::MySql ? " () VALUES ()" : " DEFAULT VALUES";
    StatementResult result;
    if (!Run(sql, parameters, result, error))
        return false;

    // Read the stored row back by its key: defaults and counters are the database's to fill.
    // A key the insert did not set is the counter the database just assigned.
    const auto& columns = *change.columns;
    std::vector<std::size_t> positions;
    const std::string select = TableColumns(change, table, quote, positions);
    std::string where;
    std::vector<Variant> keyValues;
    bool complete = true;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].baseTable != table || !columns[i].key)
            continue;
        Variant value;
        if ((*change.set)[i])
            value = (*change.current)[i];
        else if (!LastIdentity(value))
            complete = false;
        where += (where.empty() ? " WHERE " : " AND ") + Quote(columns[i].baseColumn) + " = ?";
        keyValues.push_back(value);
    }
    StatementResult stored;
    ProviderError ignored;
    if (complete && !where.empty() &&
        Run("SELECT " + select + " FROM " + Quote(table) + where, keyValues, stored, ignored) &&
        stored.rows.size() == 1)
        for (std::size_t k = 0; k < positions.size(); ++k)
            (*change.current)[positions[k]] = stored.rows[0][k];
    return true;
}

bool OdbcSession::UpdateRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error, "Cannot update. Database or object is read-only.");
    std::string table;
    if (!BaseTableOf(change, table))
        return Refuse(error, "Insufficient key column information for updating or refreshing.");
    std::vector<Variant> parameters;
    const std::string assignments = Assignments(
        change, [this](std::string_view name) { return Quote(name); }, parameters);
    if (assignments.empty())
        return true;
    std::string where;
    if (!LocateOne(change, table, where, parameters,
                   "Row cannot be located for updating. Some values may have been changed "
                   "since it was last read.",
                   error))
        return false;
    StatementResult result;
    if (!Run("UPDATE " + Quote(table) + " SET " + assignments + where, parameters, result, error))
        return false;
    if (result.recordsAffected < 1)
        return Refuse(error, "Row cannot be located for updating. Some values may have been "
                             "changed since it was last read.");
    return true;
}

bool OdbcSession::DeleteRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error, "Cannot update. Database or object is read-only.");
    std::string table;
    if (!BaseTableOf(change, table))
        return Refuse(error, "Insufficient key column information for updating or refreshing.");
    std::string where;
    std::vector<Variant> parameters;
    if (!LocateOne(change, table, where, parameters,
                   "Row cannot be located for deletion. Some values may have been changed "
                   "since it was last read.",
                   error))
        return false;
    StatementResult result;
    if (!Run("DELETE FROM " + Quote(table) + where, parameters, result, error))
        return false;
    if (result.recordsAffected < 1)
        return Refuse(error, "Row cannot be located for deletion. Some values may have been "
                             "changed since it was last read.");
    return true;
}

bool OdbcSession::Tables(StatementResult& out, ProviderError& error) {
    // The current database only: a server's other databases are not this connection's tables.
    char catalog[256] = {};
    SQLINTEGER catalogLength = 0;
    if (!Ok(SQLGetConnectAttr(connection_, SQL_ATTR_CURRENT_CATALOG, catalog, sizeof catalog,
                              &catalogLength)))
        catalog[0] = '\0';
    const std::size_t catalogSize = strnlen(catalog, sizeof catalog);

    Statement statement;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement.handle)))
        return Fail(SQL_HANDLE_DBC, connection_, error);
    if (!Ok(SQLTables(statement.handle, catalogSize ? reinterpret_cast<SQLCHAR*>(catalog) : nullptr,
                      static_cast<SQLSMALLINT>(catalogSize), nullptr, 0, nullptr, 0, nullptr, 0)))
        return Fail(SQL_HANDLE_STMT, statement.handle, error);
    out = {};
    out.returnsRows = true;
    out.columns = TablesSchemaColumns();
    for (;;) {
        const SQLRETURN rc = SQLFetch(statement.handle);
        if (rc == SQL_NO_DATA)
            break;
        if (!Ok(rc)) {
            out = {};
            return Fail(SQL_HANDLE_STMT, statement.handle, error);
        }
        Row row(out.columns.size(), Variant::Null());
        // TABLE_CAT, TABLE_SCHEM, TABLE_NAME, TABLE_TYPE, REMARKS.
        const int targets[] = {kSchemaCatalog, kSchemaSchema, kSchemaTableName, kSchemaTableType,
                               kSchemaDescription};
        for (SQLUSMALLINT i = 0; i < 5; ++i) {
            Variant value;
            if (!ReadValue(statement.handle, static_cast<SQLUSMALLINT>(i + 1), Kind::Text, value)) {
                out = {};
                return Fail(SQL_HANDLE_STMT, statement.handle, error);
            }
            if (value.Type() == VT_BSTR)
                row[static_cast<std::size_t>(targets[i])] = Variant(FromDb(value.Text()));
        }
        Variant& type = row[kSchemaTableType];
        if (type.Type() == VT_BSTR && text::EqualsNoCase(type.Text(), "BASE TABLE"))
            type = Variant("TABLE");
        out.rows.push_back(std::move(row));
    }
    return true;
}

} // namespace vm::ado
