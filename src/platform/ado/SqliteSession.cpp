#include "platform/ado/SqliteSession.h"

#include "platform/ado/Ado.h"
#include "platform/ado/FastText.h"
#include "platform/ado/RowChanges.h"
#include "platform/text/Codepage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <sqlite3.h>
#include <utility>

namespace vm::ado {
namespace {

using automation::VT_BOOL;
using automation::VT_BSTR;
using automation::VT_BYTES;
using automation::VT_DATE;
using automation::VT_DISPATCH;
using automation::VT_EMPTY;
using automation::VT_I4;
using automation::VT_I8;
using automation::VT_NULL;
using automation::VT_R4;
using automation::VT_R8;

// How a declared column type reads.
enum class Kind { Any, Integer, BigInt, Real, Single, Numeric, Text, Blob, Date, Bool };

constexpr std::int64_t kLongTextSize = 536870910;

std::string UpperAscii(const char* text) {
    std::string out = text ? text : "";
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool Has(const std::string& text, const char* piece) {
    return text.find(piece) != std::string::npos;
}

// Declared type to kind, ADO type and size, in SQLite's own affinity order where they overlap.
Kind Classify(const char* declared, int& type, std::int64_t& size, int& attributes) {
    const std::string decl = UpperAscii(declared);
    size = 0;
    if (decl.empty()) {
        type = adVariant;
        return Kind::Any;
    }
    if (Has(decl, "BOOL") || decl == "BIT" || Has(decl, "YESNO")) {
        type = adBoolean, size = 2, attributes |= adFldFixed;
        return Kind::Bool;
    }
    if (Has(decl, "BIGINT") || Has(decl, "INT8")) {
        type = adBigInt, size = 8, attributes |= adFldFixed;
        return Kind::BigInt;
    }
    if (Has(decl, "INT") || Has(decl, "COUNTER")) {
        type = adInteger, size = 4, attributes |= adFldFixed;
        return Kind::Integer;
    }
    if (Has(decl, "DATE") || Has(decl, "TIME")) {
        type = adDate, size = 8, attributes |= adFldFixed;
        return Kind::Date;
    }
    if (Has(decl, "CHAR") || Has(decl, "CLOB") || Has(decl, "TEXT") || Has(decl, "MEMO")) {
        const std::size_t open = decl.find('(');
        if (open != std::string::npos) {
            type = adVarWChar;
            size = std::atoll(decl.c_str() + open + 1);
            if (size <= 0)
                size = 255;
        } else {
            type = adLongVarWChar, size = kLongTextSize, attributes |= adFldLong;
        }
        return Kind::Text;
    }
    if (Has(decl, "BLOB") || Has(decl, "BINARY") || Has(decl, "IMAGE") || Has(decl, "OLE")) {
        type = adLongVarBinary, size = 1073741823, attributes |= adFldLong;
        return Kind::Blob;
    }
    if (Has(decl, "SINGLE")) {
        type = adSingle, size = 4, attributes |= adFldFixed;
        return Kind::Single;
    }
    if (Has(decl, "REAL") || Has(decl, "FLOA") || Has(decl, "DOUB")) {
        type = adDouble, size = 8, attributes |= adFldFixed;
        return Kind::Real;
    }
    if (Has(decl, "NUM") || Has(decl, "DEC") || Has(decl, "CURRENCY") || Has(decl, "MONEY")) {
        type = adNumeric, size = 19, attributes |= adFldFixed;
        return Kind::Numeric;
    }
    if (Has(decl, "LONG")) {
        type = adInteger, size = 4, attributes |= adFldFixed;
        return Kind::Integer;
    }
    type = adVariant;
    return Kind::Any;
}

// The declared types of the Access copies (Access's type names) as ADO's Jet provider reports
// them; a name of another kind is read as a SQLite file's would be.
Kind ClassifyAccess(const char* declared, ColumnInfo& column) {
    const std::string decl = UpperAscii(declared);
    const std::size_t open = decl.find('(');
    const std::string name = decl.substr(0, open);
    const auto sized = [&](std::int64_t fallback) {
        const std::int64_t n = open == std::string::npos ? 0 : std::atoll(decl.c_str() + open + 1);
        return n > 0 ? n : fallback;
    };
    const auto set = [&](int type, std::int64_t size, int attributes, Kind kind) {
        column.type = type, column.definedSize = size, column.attributes |= attributes;
        return kind;
    };
    if (name == "YESNO" || name == "BIT")
        return set(adBoolean, 2, adFldFixed, Kind::Bool);
    if (name == "BYTE")
        return set(adUnsignedTinyInt, 1, adFldFixed, Kind::Integer);
    if (name == "SMALLINT" || name == "SHORT")
        return set(adSmallInt, 2, adFldFixed, Kind::Integer);
    if (name == "INTEGER" || name == "LONG" || name == "COUNTER")
        return set(adInteger, 4, adFldFixed, Kind::Integer);
    if (name == "SINGLE")
        return set(adSingle, 4, adFldFixed, Kind::Single);
    if (name == "DOUBLE" || name == "REAL" || name == "FLOAT")
        return set(adDouble, 8, adFldFixed, Kind::Real);
    if (name == "CURRENCY")
        return set(adCurrency, 8, adFldFixed, Kind::Numeric);
    if (name == "DATETIME")
        return set(adDate, 8, adFldFixed, Kind::Date);
    if (name == "TEXT" || name == "VARCHAR" || name == "CHAR")
        return set(adVarWChar, sized(255), 0, Kind::Text);
    if (name == "LONGTEXT" || name == "MEMO")
        return set(adLongVarWChar, kLongTextSize, adFldLong, Kind::Text);
    if (name == "BINARY")
        return set(adVarBinary, sized(510), 0, Kind::Blob);
    if (name == "LONGBINARY")
        return set(adLongVarBinary, 1073741823, adFldLong, Kind::Blob);
    if (name == "GUID")
        return set(adGUID, 16, adFldFixed, Kind::Text);
    if (name == "DECIMAL") {
        if (open != std::string::npos) {
            column.precision = std::atoi(decl.c_str() + open + 1);
            const std::size_t comma = decl.find(',', open);
            column.numericScale =
                comma == std::string::npos ? 0 : std::atoi(decl.c_str() + comma + 1);
        }
        return set(adNumeric, 19, adFldFixed, Kind::Numeric);
    }
    return Classify(declared, column.type, column.definedSize, column.attributes);
}

Kind KindOf(int type) {
    switch (type) {
    case adBoolean:
        return Kind::Bool;
    case adBigInt:
        return Kind::BigInt;
    case adInteger:
    case adSmallInt:
    case adUnsignedTinyInt:
        return Kind::Integer;
    case adDate:
        return Kind::Date;
    case adVarWChar:
    case adLongVarWChar:
    case adGUID:
        return Kind::Text;
    case adLongVarBinary:
    case adVarBinary:
        return Kind::Blob;
    case adSingle:
        return Kind::Single;
    case adDouble:
        return Kind::Real;
    case adNumeric:
    case adCurrency:
        return Kind::Numeric;
    default:
        return Kind::Any;
    }
}

Variant IntegerVariant(sqlite3_int64 value) {
    if (value >= std::numeric_limits<std::int32_t>::min() &&
        value <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(value));
    return Variant::I8(value);
}

// Expression columns take their type from the values they hold.
void InferType(ColumnInfo& column, const std::vector<Row>& rows, std::size_t index) {
    bool anyInt = false, anyWide = false, anyReal = false, anyText = false, anyBytes = false;
    std::int64_t longest = 0;
    for (const Row& row : rows) {
        const Variant& v = row[index];
        switch (v.Type()) {
        case VT_I4:
            anyInt = true;
            break;
        case VT_I8:
            anyWide = true;
            break;
        case VT_R8:
            anyReal = true;
            break;
        case VT_BSTR:
            anyText = true;
            longest = std::max<std::int64_t>(longest, static_cast<std::int64_t>(v.Text().size()));
            break;
        case VT_BYTES:
            anyBytes = true;
            break;
        default:
            break;
        }
    }
    column.attributes |= adFldFixed;
    if (anyBytes) {
        column.type = adLongVarBinary, column.definedSize = 1073741823;
        column.attributes = (column.attributes & ~adFldFixed) | adFldLong;
    } else if (anyText) {
        column.type = adVarWChar, column.definedSize = std::max<std::int64_t>(longest, 1);
        column.attributes &= ~adFldFixed;
    } else if (anyReal) {
        column.type = adDouble, column.definedSize = 8;
    } else if (anyWide) {
        column.type = adBigInt, column.definedSize = 8;
    } else if (anyInt) {
        column.type = adInteger, column.definedSize = 4;
    } else {
        column.type = adVarWChar, column.definedSize = 255;
        column.attributes &= ~adFldFixed;
    }
}

std::string Quote(std::string_view name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    out += '"';
    return out;
}

struct Statement {
    sqlite3_stmt* stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

std::int64_t SteadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t DeadlineAfter(int seconds) {
    return SteadyNow() + static_cast<std::int64_t>(seconds) * 1000000000;
}

bool OnlyBlanks(const char* tail) {
    for (; tail && *tail; ++tail)
        if (*tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n' && *tail != ';')
            return false;
    return true;
}

} // namespace

SqliteSession::SqliteSession(sqlite3* db, Options options) : db_(db), options_(std::move(options)) {
    if (options_.readOnlyMessage.empty())
        options_.readOnlyMessage = "Cannot update. Database or object is read-only.";
}

SqliteSession::~SqliteSession() {
    sqlite3_close_v2(db_);
}

std::unique_ptr<SqliteSession> SqliteSession::OpenFile(const std::string& linuxPath, bool create,
                                                       int busyTimeoutMs, Options options,
                                                       ProviderError& error) {
    int flags = options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    if (create && !options.readOnly)
        flags |= SQLITE_OPEN_CREATE;
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(linuxPath.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        error.description =
            Utf8ToGbkFast(std::string("Unable to open database file: ") +
                          (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + " (" + linuxPath + ")");
        error.source = options.errorSource;
        error.nativeError = rc;
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, busyTimeoutMs);
    // A file that is not a database fails here rather than at the first statement.
    char* message = nullptr;
    if (sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, &message) !=
        SQLITE_OK) {
        error.description =
            Utf8ToGbkFast(std::string("Unable to open database file: ") +
                          (message ? message : "unknown error") + " (" + linuxPath + ")");
        error.source = options.errorSource;
        error.nativeError = sqlite3_extended_errcode(db);
        sqlite3_free(message);
        sqlite3_close_v2(db);
        return nullptr;
    }
    return std::unique_ptr<SqliteSession>(new SqliteSession(db, std::move(options)));
}

std::unique_ptr<SqliteSession> SqliteSession::Adopt(sqlite3* db, Options options) {
    sqlite3_extended_result_codes(db, 1);
    if (options.accessSql)
        RegisterAccessFunctions(db);
    return std::unique_ptr<SqliteSession>(new SqliteSession(db, std::move(options)));
}

std::string SqliteSession::ToDb(std::string_view gbk) const {
    return options_.encoding == Encoding::Gbk ? std::string(gbk) : GbkToUtf8Fast(gbk);
}

std::string SqliteSession::FromDb(std::string_view bytes) const {
    return options_.encoding == Encoding::Gbk ? std::string(bytes) : Utf8ToGbkFast(bytes);
}

bool SqliteSession::Fail(ProviderError& error, std::string_view what) const {
    const int code = sqlite3_extended_errcode(db_);
    if (timedOut_)
        error.description = "Query timeout expired";
    else if (!what.empty())
        error.description = std::string(what);
    else
        error.description = FromDb(sqlite3_errmsg(db_));
    error.number = static_cast<HResult>(0x80004005);
    error.source = options_.errorSource;
    error.nativeError = code;
    error.sqlState = (code & 0xFF) == SQLITE_CONSTRAINT ? "23000" : "HY000";
    return false;
}

bool SqliteSession::Refuse(ProviderError& error) const {
    error = {};
    error.description = options_.readOnlyMessage;
    error.source = options_.errorSource;
    error.sqlState = "HY000";
    return false;
}

int SqliteSession::Progress(void* self) {
    auto* session = static_cast<SqliteSession*>(self);
    if (SteadyNow() > session->deadline_) {
        session->timedOut_ = true;
        return 1;
    }
    return 0;
}

bool SqliteSession::Bind(sqlite3_stmt* stmt, int index, const Variant& given) const {
    const Variant& value = given.Deref();
    switch (value.Type()) {
    case VT_EMPTY:
    case VT_NULL:
        return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    case VT_BOOL:
        return sqlite3_bind_int(stmt, index, value.IntValue() ? 1 : 0) == SQLITE_OK;
    case VT_R4:
    case VT_R8:
    case automation::VT_CY:
        return sqlite3_bind_double(stmt, index, value.DoubleValue()) == SQLITE_OK;
    case VT_DATE: {
        const std::string text = automation::FormatOleDate(value.DoubleValue());
        return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    case VT_BSTR: {
        const std::string text = ToDb(value.Text());
        return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    case VT_BYTES: {
        const automation::Bytes& bytes = value.ByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.data(), static_cast<int>(bytes.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    default:
        if (value.IsNumeric())
            return sqlite3_bind_int64(stmt, index, value.IntValue()) == SQLITE_OK;
        std::string text;
        if (!value.ToText(text))
            return false;
        text = ToDb(text);
        return sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
}

void SqliteSession::Describe(sqlite3_stmt* stmt, std::vector<ColumnInfo>& columns) const {
    const int count = sqlite3_column_count(stmt);
    columns.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        ColumnInfo& column = columns[static_cast<std::size_t>(i)];
        const char* name = sqlite3_column_name(stmt, i);
        column.name = FromDb(name ? name : "");
        column.attributes = adFldUnknownUpdatable;
        if (options_.accessSql)
            ClassifyAccess(sqlite3_column_decltype(stmt, i), column);
        else
            Classify(sqlite3_column_decltype(stmt, i), column.type, column.definedSize,
                     column.attributes);
        const char* table = sqlite3_column_table_name(stmt, i);
        const char* origin = sqlite3_column_origin_name(stmt, i);
        bool nullable = true;
        if (table && origin) {
            column.baseTable = FromDb(table);
            column.baseColumn = FromDb(origin);
            int notNull = 0, primaryKey = 0, autoIncrement = 0;
            if (sqlite3_table_column_metadata(db_, sqlite3_column_database_name(stmt, i), table,
                                              origin, nullptr, nullptr, &notNull, &primaryKey,
                                              &autoIncrement) == SQLITE_OK) {
                nullable = notNull == 0;
                column.key = primaryKey != 0;
            }
            if (!options_.readOnly)
                column.attributes |= adFldUpdatable;
        }
        if (nullable)
            column.attributes |= adFldIsNullable | adFldMayBeNull;
        if (column.key)
            column.attributes |= adFldKeyColumn;
        // An Access AutoNumber is a fixed-size Long and nothing more: its flag.
        if (options_.accessSql && UpperAscii(sqlite3_column_decltype(stmt, i)) == "COUNTER")
            column.attributes = adFldFixed;
    }
}

Variant SqliteSession::ReadValue(sqlite3_stmt* stmt, int column, int type) const {
    const int storage = sqlite3_column_type(stmt, column);
    if (storage == SQLITE_NULL)
        return Variant::Null();
    const Kind kind = KindOf(type);
    switch (storage) {
    case SQLITE_INTEGER: {
        const sqlite3_int64 value = sqlite3_column_int64(stmt, column);
        switch (kind) {
        case Kind::Bool:
            return Variant(value != 0);
        case Kind::BigInt:
            return Variant::I8(value);
        case Kind::Real:
        case Kind::Numeric:
            return Variant(static_cast<double>(value));
        case Kind::Single:
            return Variant::R4(static_cast<float>(value));
        case Kind::Date:
            return Variant::Date(static_cast<double>(value));
        default:
            return IntegerVariant(value);
        }
    }
    case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(stmt, column);
        if (kind == Kind::Date)
            return Variant::Date(value);
        if (kind == Kind::Single)
            return Variant::R4(static_cast<float>(value));
        return Variant(value);
    }
    case SQLITE_TEXT: {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        const std::string_view text(bytes ? bytes : "",
                                    static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)));
        if (kind == Kind::Date) {
            double date = 0;
            if (automation::ParseOleDate(text, date))
                return Variant::Date(date);
        }
        if (kind == Kind::Blob)
            return Variant(automation::Bytes(text.begin(), text.end()));
        return Variant(FromDb(text));
    }
    default: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, column));
        const int size = sqlite3_column_bytes(stmt, column);
        return Variant(automation::Bytes(data, data + size));
    }
    }
}

bool SqliteSession::Prepare(std::string_view sql, std::span<const Variant> parameters,
                            sqlite3_stmt*& out, ProviderError& error, bool checkReadOnly) {
    out = nullptr;
    timedOut_ = false;
    const std::string text = ToDb(sql);
    Statement statement;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &statement.stmt,
                           &tail) != SQLITE_OK)
        return Fail(error);
    if (!statement.stmt)
        return Fail(error, "Invalid SQL statement: the statement text is empty.");
    if (!OnlyBlanks(tail))
        return Fail(error, "Characters found after end of SQL statement.");
    if (checkReadOnly && options_.readOnly && !sqlite3_stmt_readonly(statement.stmt))
        return Refuse(error);

    const int placeholders = sqlite3_bind_parameter_count(statement.stmt);
    if (static_cast<std::size_t>(placeholders) > parameters.size())
        return Fail(error, "No value given for one or more required parameters.");
    for (int i = 0; i < placeholders; ++i)
        if (!Bind(statement.stmt, i + 1, parameters[static_cast<std::size_t>(i)]))
            return Fail(error, "Application uses a value of the wrong type for the current "
                               "operation.");
    std::swap(out, statement.stmt);
    return true;
}

bool SqliteSession::Rewrite(std::string_view sql, AccessStatement& out,
                            ProviderError& error) const {
    if (!options_.accessSql) {
        out = {};
        out.sql = std::string(sql);
        return true;
    }
    std::string message;
    if (TranslateAccessSql(sql, out, message))
        return true;
    error = {};
    error.description = message;
    error.source = options_.errorSource;
    error.sqlState = "42000";
    return false;
}

void SqliteSession::ApplyHints(const AccessStatement& statement,
                               std::vector<ColumnInfo>& columns) const {
    for (std::size_t i = 0; i < columns.size() && i < statement.dateColumns.size(); ++i)
        if (statement.dateColumns[i] && columns[i].type == adVariant) {
            columns[i].type = adDate, columns[i].definedSize = 8;
            columns[i].attributes |= adFldFixed;
        }
}

void SqliteSession::ApplyTop(const AccessStatement& statement, StatementResult& out) {
    if (statement.top <= 0 || !out.returnsRows)
        return;
    const std::size_t total = out.rows.size();
    std::size_t keep = total;
    if (statement.topPercent)
        keep =
            static_cast<std::size_t>(std::ceil(static_cast<double>(total) * statement.top / 100));
    else if (statement.top < static_cast<double>(total))
        keep = static_cast<std::size_t>(statement.top);
    keep = std::min(keep, total);
    const std::size_t visible =
        out.columns.size() - static_cast<std::size_t>(statement.hiddenColumns);
    const auto key = [&](int tie) {
        return tie >= 0 ? static_cast<std::size_t>(tie)
                        : visible + static_cast<std::size_t>(-tie) - 1;
    };
    // Rows that tie with the last one kept on every ORDER BY key come along.
    if (keep > 0 && !statement.tieColumns.empty()) {
        const Row& last = out.rows[keep - 1];
        while (keep < total) {
            bool same = true;
            for (const int tie : statement.tieColumns) {
                const Variant& a = last[key(tie)];
                const Variant& b = out.rows[keep][key(tie)];
                std::string ta, tb;
                same = same && a.Type() == b.Type() &&
                       (a.IsNull() || (a.ToText(ta) && b.ToText(tb) && ta == tb));
            }
            if (!same)
                break;
            ++keep;
        }
    }
    out.rows.resize(keep);
    out.columns.resize(visible);
    for (Row& row : out.rows)
        row.resize(visible);
}

bool SqliteSession::Run(std::string_view sql, std::span<const Variant> parameters,
                        StatementResult& out, ProviderError& error, bool checkReadOnly) {
    // The session's own statements are SQLite's already.
    AccessStatement statement;
    statement.sql = std::string(sql);
    return RunRewritten(statement, parameters, out, error, checkReadOnly);
}

bool SqliteSession::RunRewritten(const AccessStatement& access, std::span<const Variant> parameters,
                                 StatementResult& out, ProviderError& error, bool checkReadOnly) {
    out = {};
    Statement statement;
    if (!Prepare(access.sql, parameters, statement.stmt, error, checkReadOnly))
        return false;

    if (commandTimeout_ > 0) {
        deadline_ = DeadlineAfter(commandTimeout_);
        sqlite3_progress_handler(db_, 1000, &SqliteSession::Progress, this);
    }
    const int before = sqlite3_total_changes(db_);
    const int columns = sqlite3_column_count(statement.stmt);
    out.returnsRows = columns > 0;
    if (out.returnsRows) {
        Describe(statement.stmt, out.columns);
        ApplyHints(access, out.columns);
    }
    int rc;
    while ((rc = sqlite3_step(statement.stmt)) == SQLITE_ROW) {
        if (!out.returnsRows)
            continue;
        Row row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int i = 0; i < columns; ++i)
            row.push_back(
                ReadValue(statement.stmt, i, out.columns[static_cast<std::size_t>(i)].type));
        out.rows.push_back(std::move(row));
    }
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    if (rc != SQLITE_DONE) {
        Fail(error);
        out = {};
        return false;
    }
    ApplyTop(access, out);
    for (std::size_t i = 0; i < out.columns.size(); ++i)
        if (out.columns[i].type == adVariant)
            InferType(out.columns[i], out.rows, i);
    out.recordsAffected = out.returnsRows ? -1 : sqlite3_total_changes(db_) - before;
    return true;
}

bool SqliteSession::Execute(std::string_view sql, std::span<const Variant> parameters,
                            StatementResult& out, ProviderError& error) {
    AccessStatement statement;
    if (!Rewrite(sql, statement, error))
        return false;
    return RunRewritten(statement, parameters, out, error, true);
}

// Steps one statement as its reader asks for rows. Each fetch gets the whole command timeout:
// the time the reader spends between rows is not the statement's.
class SqliteCursor : public RowCursor {
public:
    SqliteCursor(SqliteSession& session, sqlite3_stmt* stmt, const std::vector<ColumnInfo>& columns)
        : session_(session), stmt_(stmt) {
        types_.reserve(columns.size());
        for (const ColumnInfo& column : columns)
            types_.push_back(column.type);
    }
    ~SqliteCursor() override { sqlite3_finalize(stmt_); }
    SqliteCursor(const SqliteCursor&) = delete;
    SqliteCursor& operator=(const SqliteCursor&) = delete;

    // Keeps one row in hand beyond the one served: a statement whose last row has been
    // served is finished at once and lets go of its read lock on a file database. A failure
    // found while looking ahead belongs to the move to that row, so it waits for the next call.
    bool Next(Row& out, ProviderError& error) override {
        if (ahead_.empty())
            Fill();
        if (ahead_.empty()) {
            if (!pending_.description.empty())
                error = std::exchange(pending_, ProviderError{});
            return false;
        }
        std::swap(out, ahead_.front());
        // The reader's previous row lends its storage to the next fetch.
        spare_ = std::move(ahead_.front());
        ahead_.pop_front();
        if (ahead_.empty())
            Fill();
        return true;
    }

    // Reads rows ahead until every column without a declared type has shown a value (or
    // `limit` rows were read), then types those columns from them as Execute does.
    bool TypeExpressions(std::vector<ColumnInfo>& columns, std::size_t limit,
                         ProviderError& error) {
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].type == adVariant)
                open.push_back(i);
        if (open.empty())
            return true;
        std::vector<Row> seen;
        Row row;
        while (!open.empty() && seen.size() < limit && Step(row, error)) {
            std::erase_if(open, [&](std::size_t i) { return !row[i].IsNull(); });
            seen.push_back(row);
            ahead_.push_back(std::move(row));
        }
        if (!error.description.empty())
            return false;
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].type == adVariant)
                InferType(columns[i], seen, i);
        return true;
    }

private:
    void Fill() {
        Row row = std::move(spare_);
        if (Step(row, pending_))
            ahead_.push_back(std::move(row));
    }

    bool Step(Row& out, ProviderError& error) {
        if (!stmt_)
            return false;
        sqlite3* db = session_.db_;
        session_.timedOut_ = false;
        if (session_.commandTimeout_ > 0) {
            session_.deadline_ = DeadlineAfter(session_.commandTimeout_);
            sqlite3_progress_handler(db, 1000, &SqliteSession::Progress, &session_);
        }
        const int rc = sqlite3_step(stmt_);
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        if (rc == SQLITE_ROW) {
            out.clear();
            out.reserve(types_.size());
            for (std::size_t i = 0; i < types_.size(); ++i)
                out.push_back(session_.ReadValue(stmt_, static_cast<int>(i), types_[i]));
            return true;
        }
        if (rc != SQLITE_DONE)
            session_.Fail(error);
        // Done or failed: the statement is let go at once, not when the reader closes.
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        return false;
    }

    SqliteSession& session_;
    sqlite3_stmt* stmt_;
    std::vector<int> types_;
    std::deque<Row> ahead_;
    Row spare_;
    ProviderError pending_;
};

std::unique_ptr<RowCursor> SqliteSession::Query(std::string_view sql,
                                                std::span<const Variant> parameters,
                                                std::vector<ColumnInfo>& columns,
                                                ProviderError& error) {
    columns.clear();
    AccessStatement access;
    if (!Rewrite(sql, access, error))
        return nullptr;
    if (access.top > 0) {
        // The rows TOP keeps are known only once all of them are.
        StatementResult result;
        if (!RunRewritten(access, parameters, result, error, true))
            return nullptr;
        columns = std::move(result.columns);
        return std::make_unique<MaterialisedCursor>(std::move(result.rows));
    }
    sqlite3_stmt* stmt = nullptr;
    if (!Prepare(access.sql, parameters, stmt, error, true))
        return nullptr;
    if (sqlite3_column_count(stmt) == 0) {
        // An action statement runs to completion here, as through Execute.
        sqlite3_finalize(stmt);
        StatementResult ignored;
        if (!RunRewritten(access, parameters, ignored, error, true))
            return nullptr;
        return std::make_unique<MaterialisedCursor>(std::vector<Row>());
    }
    Describe(stmt, columns);
    ApplyHints(access, columns);
    auto cursor = std::make_unique<SqliteCursor>(*this, stmt, columns);
    // Expression columns are typed from their first values rather than from every row.
    constexpr std::size_t kTypingRows = 100;
    if (!cursor->TypeExpressions(columns, kTypingRows, error)) {
        columns.clear();
        return nullptr;
    }
    return cursor;
}

bool SqliteSession::Begin(int level, ProviderError& error) {
    StatementResult ignored;
    const std::string sql = level <= 1 ? "BEGIN" : "SAVEPOINT vm_level_" + std::to_string(level);
    return Run(sql, {}, ignored, error, false);
}

bool SqliteSession::Commit(int level, ProviderError& error) {
    StatementResult ignored;
    const std::string sql = level <= 1 ? "COMMIT" : "RELEASE vm_level_" + std::to_string(level);
    return Run(sql, {}, ignored, error, false);
}

bool SqliteSession::Rollback(int level, ProviderError& error) {
    StatementResult ignored;
    if (level <= 1)
        return Run("ROLLBACK", {}, ignored, error, false);
    const std::string name = "vm_level_" + std::to_string(level);
    return Run("ROLLBACK TO " + name, {}, ignored, error, false) &&
           Run("RELEASE " + name, {}, ignored, error, false);
}

bool SqliteSession::BaseTableOf(const RowChange& change, std::string& table,
                                ProviderError& error) const {
    if (!ado::BaseTableOf(change, table))
        return Fail(error, "Insufficient key column information for updating or refreshing.");
    return true;
}

// A WHERE clause that finds the row as it was read: by the full primary key when the
// recordset holds it, otherwise by every column of the table that it holds.
std::string SqliteSession::LocateClause(const RowChange& change, const std::string& table,
                                        std::vector<Variant>& parameters) const {
    const auto& columns = *change.columns;
    int keyColumns = 0;
    {
        Statement info;
        const std::string pragma = ToDb("PRAGMA table_info(" + Quote(table) + ")");
        if (sqlite3_prepare_v2(db_, pragma.c_str(), -1, &info.stmt, nullptr) == SQLITE_OK)
            while (sqlite3_step(info.stmt) == SQLITE_ROW)
                if (sqlite3_column_int(info.stmt, 5) > 0)
                    ++keyColumns;
    }
    int keysHeld = 0;
    for (const ColumnInfo& column : columns)
        if (column.baseTable == table && column.key)
            ++keysHeld;
    const bool byKey = keyColumns > 0 && keysHeld == keyColumns;

    std::string where;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ColumnInfo& column = columns[i];
        if (column.baseTable != table || (byKey && !column.key))
            continue;
        if (!where.empty())
            where += " AND ";
        where += Quote(column.baseColumn) + " IS ?";
        parameters.push_back((*change.original)[i]);
    }
    if (byKey)
        return " WHERE " + where;
    return " WHERE rowid = (SELECT rowid FROM " + Quote(table) + " WHERE " + where + " LIMIT 1)";
}

bool SqliteSession::InsertRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error);
    std::string table;
    if (!BaseTableOf(change, table, error))
        return false;
    std::string names, marks;
    std::vector<Variant> parameters;
    InsertedColumns(change, table, Quote, names, marks, parameters);
    const std::string sql =
        names.empty() ? "INSERT INTO " + Quote(table) + " DEFAULT VALUES"
                      : "INSERT INTO " + Quote(table) + " (" + names + ") VALUES (" + marks + ")";
    StatementResult result;
    if (!Run(sql, parameters, result, error, false))
        return false;

    // Read the stored row back: defaults and counters are the database's to fill.
    std::vector<std::size_t> positions;
    const std::string select = TableColumns(change, table, Quote, positions);
    const Variant rowid = Variant::I8(sqlite3_last_insert_rowid(db_));
    StatementResult stored;
    ProviderError ignored;
    if (!select.empty() &&
        Run("SELECT " + select + " FROM " + Quote(table) + " WHERE rowid = ?",
            std::span<const Variant>(&rowid, 1), stored, ignored, false) &&
        stored.rows.size() == 1) {
        for (std::size_t k = 0; k < positions.size(); ++k) {
            Variant value = stored.rows[0][k];
            // Keep the recordset's own types: the refresh query has the table's declarations.
            (*change.current)[positions[k]] = std::move(value);
        }
    }
    return true;
}

bool SqliteSession::UpdateRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error);
    std::string table;
    if (!BaseTableOf(change, table, error))
        return false;
    std::vector<Variant> parameters;
    const std::string assignments = Assignments(change, Quote, parameters);
    if (assignments.empty())
        return true;
    const std::string where = LocateClause(change, table, parameters);
    StatementResult result;
    if (!Run("UPDATE " + Quote(table) + " SET " + assignments + where, parameters, result, error,
             false))
        return false;
    if (result.recordsAffected < 1)
        return Fail(error, "Row cannot be located for updating. Some values may have been "
                           "changed since it was last read.");
    return true;
}

bool SqliteSession::DeleteRow(const RowChange& change, ProviderError& error) {
    if (options_.readOnly)
        return Refuse(error);
    std::string table;
    if (!BaseTableOf(change, table, error))
        return false;
    std::vector<Variant> parameters;
    const std::string where = LocateClause(change, table, parameters);
    StatementResult result;
    if (!Run("DELETE FROM " + Quote(table) + where, parameters, result, error, false))
        return false;
    if (result.recordsAffected < 1)
        return Fail(error, "Row cannot be located for deletion. Some values may have been "
                           "changed since it was last read.");
    return true;
}

bool SqliteSession::Tables(StatementResult& out, ProviderError& error) {
    StatementResult listed;
    if (!Run("SELECT name, type FROM sqlite_master WHERE type IN ('table', 'view') ORDER BY name",
             {}, listed, error, false))
        return false;
    out = {};
    out.returnsRows = true;
    out.columns = TablesSchemaColumns();
    for (const Row& row : listed.rows) {
        const std::string& name = row[0].Text();
        // The Access copies carry the MSys catalogue, a system table there as in Access.
        const bool system = name.rfind("sqlite_", 0) == 0 ||
                            (options_.encoding == Encoding::Gbk && name.rfind("MSys", 0) == 0);
        const char* type = system ? "SYSTEM TABLE" : row[1].Text() == "view" ? "VIEW" : "TABLE";
        Row schemaRow(out.columns.size(), Variant::Null());
        schemaRow[kSchemaTableName] = Variant(name);
        schemaRow[kSchemaTableType] = Variant(type);
        out.rows.push_back(std::move(schemaRow));
    }
    // sqlite_master describes itself only implicitly; list it as the system table it is.
    Row master(out.columns.size(), Variant::Null());
    master[2] = Variant("sqlite_master");
    master[3] = Variant("SYSTEM TABLE");
    out.rows.push_back(std::move(master));
    return true;
}

} // namespace vm::ado
