// vellumark-sql CONNECTION-STRING STATEMENT
//
// Opens the connection string with DbConnection and runs the statement. Rows come out as CSV
// (a header line of column names, then one line per row), anything else as the number of
// records affected. On failure the provider's message goes to stderr and the exit code is 1
// (2 for wrong usage). Arguments and output are UTF-8; the database classes speak GBK.

#include "db/DbCommand.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "platform/automation/Object.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

using vm::automation::Variant;

std::string Csv(const Variant& value) {
    const Variant& v = value.Deref();
    if (v.IsNull() || v.IsEmpty())
        return {};
    std::string text;
    if (v.Type() == vm::automation::VT_BYTES) {
        static const char kHex[] = "0123456789abcdef";
        text = "0x";
        for (const std::uint8_t b : v.ByteArray()) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        return text;
    }
    if (!v.ToText(text))
        return {};
    text = vm::text::GbkToUtf8(text);
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

void PrintRows(vm::db::DbRecordset& rows) {
    const int columns = static_cast<int>(rows.fieldCount());
    std::string line;
    for (int i = 0; i < columns; ++i)
        line += (i ? "," : "") + Csv(Variant(rows.fieldName(i)));
    std::cout << line << '\n';
    while (!rows.isEof()) {
        line.clear();
        for (int i = 0; i < columns; ++i)
            line += (i ? "," : "") + Csv(rows.getValue(std::int32_t{i}));
        std::cout << line << '\n';
        if (!rows.moveNext())
            break;
    }
}

int Fail(vm::db::DbConnection& connection, const std::string& what) {
    std::string message = connection.lastErrorDescription();
    if (message.empty())
        message = vm::automation::LastCallException();
    if (message.empty())
        message = what;
    std::cerr << "vellumark-sql: " << vm::text::GbkToUtf8(message) << '\n';
    return 1;
}

// Statements other than SELECT that return rows.
bool ReturnsRowsWithoutSelect(const std::string& lowered) {
    for (const char* word : {"with", "pragma", "values", "explain"})
        if (lowered.rfind(word, 0) == 0)
            return true;
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: vellumark-sql CONNECTION-STRING STATEMENT\n";
        return 2;
    }
    const std::string connectionString = vm::text::Utf8ToGbk(argv[1]);
    const std::string statement = vm::text::Trim(vm::text::Utf8ToGbk(argv[2]));

    vm::db::DbConnection connection;
    if (!connection.open(connectionString))
        return Fail(connection, "the connection could not be opened");

    const std::string lowered = vm::text::ToLowerAscii(statement);
    vm::db::DbRecordset rows;
    if (ReturnsRowsWithoutSelect(lowered)) {
        vm::db::DbCommand command;
        if (!command.prepare(connection, statement) || !command.executeInto(rows, 1))
            return Fail(connection, "the statement failed");
        if (rows.isOpen())
            PrintRows(rows);
        else
            std::cout << "0\n";
        return 0;
    }
    rows.setConnection(connection);
    // Read-only rows: the tool never edits through the recordset.
    const bool opened = rows.open(statement, 1, 3, 1);
    if (rows.isOpen()) {
        PrintRows(rows);
        return 0;
    }
    if (!opened)
        return Fail(connection, "the statement failed");
    std::cout << rows.getRecordsAffected() << '\n';
    return 0;
}
