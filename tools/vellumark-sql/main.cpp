// vellumark-sql [--types] CONNECTION-STRING STATEMENT
// vellumark-sql [--types] CONNECTION-STRING -f FILE
//
// Opens the connection string with DbConnection and runs the statement (or each statement of
// FILE in turn). Rows come out as CSV (a header line of column names, then one line per row),
// anything else as the number of records affected. On failure the provider's message goes to
// stderr and the exit code is 1 (2 for wrong usage). Arguments, files and output are UTF-8;
// the database classes speak GBK.

#include "db/DbCommand.h"
#include "db/DbConnection.h"
#include "db/DbRecordset.h"
#include "platform/automation/Object.h"
#include "platform/text/Codepage.h"
#include "platform/text/Gbk.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using vm::automation::Variant;

constexpr const char* kUsage = "usage: vellumark-sql [--types] CONNECTION-STRING STATEMENT\n"
                               "       vellumark-sql [--types] CONNECTION-STRING -f FILE\n"
                               "       vellumark-sql --help\n";

constexpr const char* kHelp =
    "Runs SQL through the program's database classes and prints rows as CSV (a header line,\n"
    "then one line per row; NULL is empty, bytes are 0x..., dates as Access shows them) or\n"
    "the number of records a change affected.\n"
    "\n"
    "  --types   print each column's ADO type and defined size under the header (TYPE/SIZE)\n"
    "  -f FILE   run the statements of FILE: one per line, or, when a line holds only \";\",\n"
    "            the lines between such lines; stops at the first failure and names its line\n"
    "\n"
    "Connection strings (paths as Windows texts with Z: as the root, or Linux paths):\n"
    "  Access .mdb, read only, statements in Access's dialect:\n"
    "    Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/path/file.mdb;"
    "Jet OLEDB:Database Password=PASSWORD\n"
    "  SQLite file, made when missing unless NoCreat=1; Mode 1 opens it read only:\n"
    "    Driver={SQLite3 ODBC Driver};Database=/path/file.db;\n"
    "  A folder of text files (.txt, .csv, .tab, .asc), read only, Access's dialect:\n"
    "    Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/path/folder;"
    "Extended Properties='text;HDR=Yes'\n"
    "  MySQL (served by the MariaDB ODBC driver):\n"
    "    Provider=MSDASQL.1;Password=PWD;Extended Properties=\"Driver={MySQL ODBC 3.51 Driver};"
    "Server=HOST;Port=3306;DataBase=NAME;UID=USER;Stmt=Set Names 'GBK'\"\n"
    "  Any driver installed with unixODBC, or a DSN:\n"
    "    Driver={NAME};...   DSN=NAME;...\n"
    "\n"
    "Exit status: 0 done, 1 a statement or the connection failed, 2 wrong usage.\n";

// A date as Access shows it here: "2000-6-15 12:30:00", without the time at midnight and
// without the date on the epoch day.
std::string AccessDate(double date) {
    vm::automation::DateParts p;
    if (!vm::automation::SplitOleDate(date, p))
        return vm::automation::FormatNumber(date);
    char time[16];
    std::snprintf(time, sizeof time, "%d:%02d:%02d", p.hour, p.minute, p.second);
    const bool hasTime = p.hour || p.minute || p.second;
    if (std::floor(date) == 0 && hasTime)
        return time;
    const std::string day =
        std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day);
    return hasTime ? day + " " + time : day;
}

std::string Quoted(const std::string& text) {
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

std::string Csv(const Variant& value) {
    const Variant& v = value.Deref();
    if (v.IsNull() || v.IsEmpty())
        return {};
    std::string text;
    switch (v.Type()) {
    case vm::automation::VT_BYTES: {
        static const char kHex[] = "0123456789abcdef";
        text = "0x";
        for (const std::uint8_t b : v.ByteArray()) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        return text;
    }
    case vm::automation::VT_DATE:
        return AccessDate(v.DoubleValue());
    case vm::automation::VT_BOOL: // Yes is -1, as Access's expressions read it
        return v.IntValue() ? "-1" : "0";
    default:
        break;
    }
    if (!v.ToText(text))
        return {};
    return Quoted(vm::text::GbkToUtf8(text));
}

void PrintRows(vm::db::DbRecordset& rows, bool types) {
    const int columns = static_cast<int>(rows.fieldCount());
    std::string line;
    for (int i = 0; i < columns; ++i)
        line += (i ? "," : "") + Quoted(vm::text::GbkToUtf8(rows.fieldName(i)));
    std::cout << line << '\n';
    if (types) {
        line.clear();
        for (int i = 0; i < columns; ++i) {
            const vm::db::FieldKey key(std::int32_t{i});
            line += (i ? "," : "") + std::to_string(static_cast<long long>(rows.fieldType(key))) +
                    "/" + std::to_string(static_cast<long long>(rows.fieldDefinedSize(key)));
        }
        std::cout << line << '\n';
    }
    while (!rows.isEof()) {
        line.clear();
        for (int i = 0; i < columns; ++i)
            line += (i ? "," : "") + Csv(rows.getValue(std::int32_t{i}));
        std::cout << line << '\n';
        if (!rows.moveNext())
            break;
    }
}

std::string Failure(vm::db::DbConnection& connection, const std::string& what) {
    std::string message = connection.lastErrorDescription();
    if (message.empty())
        message = vm::automation::LastCallException();
    if (message.empty())
        message = what;
    return vm::text::GbkToUtf8(message);
}

// Statements other than SELECT that return rows.
bool ReturnsRowsWithoutSelect(const std::string& lowered) {
    for (const char* word : {"with", "pragma", "values", "explain"})
        if (lowered.rfind(word, 0) == 0)
            return true;
    return false;
}

// Runs one statement (GBK); false with `error` (UTF-8) set on failure.
bool Run(vm::db::DbConnection& connection, const std::string& given, bool types,
         std::string& error) {
    const std::string statement = vm::text::Trim(given);
    const std::string lowered = vm::text::ToLowerAscii(statement);
    vm::db::DbRecordset rows;
    if (ReturnsRowsWithoutSelect(lowered)) {
        vm::db::DbCommand command;
        if (!command.prepare(connection, statement) || !command.executeInto(rows, 1)) {
            error = Failure(connection, "the statement failed");
            return false;
        }
        if (rows.isOpen())
            PrintRows(rows, types);
        else
            std::cout << "0\n";
        return true;
    }
    rows.setConnection(connection);
    // Read-only rows: the tool never edits through the recordset.
    const bool opened = rows.open(statement, 1, 3, 1);
    if (rows.isOpen()) {
        PrintRows(rows, types);
        return true;
    }
    if (!opened) {
        error = Failure(connection, "the statement failed");
        return false;
    }
    std::cout << rows.getRecordsAffected() << '\n';
    return true;
}

struct FileStatement {
    int line = 0; // where it starts, from 1
    std::string text;
};

std::string Trimmed(const std::string& line) {
    const std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

// One statement per line; or, when some line holds only ";", the runs of lines between them.
std::vector<FileStatement> SplitStatements(const std::string& content) {
    std::vector<std::string> lines;
    std::istringstream in(content);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    bool blocks = false;
    for (const std::string& line : lines)
        blocks = blocks || Trimmed(line) == ";";
    std::vector<FileStatement> out;
    FileStatement current;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string trimmed = Trimmed(lines[i]);
        const int number = static_cast<int>(i + 1);
        if (!blocks) {
            if (!trimmed.empty())
                out.push_back({number, trimmed});
            continue;
        }
        if (trimmed == ";") {
            if (!Trimmed(current.text).empty())
                out.push_back(current);
            current = {};
            continue;
        }
        if (current.text.empty() && trimmed.empty())
            continue;
        if (current.text.empty())
            current.line = number;
        current.text += (current.text.empty() ? "" : "\n") + lines[i];
    }
    if (!Trimmed(current.text).empty())
        out.push_back(current);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        std::cout << kUsage << '\n' << kHelp;
        return 0;
    }
    bool types = false;
    if (!args.empty() && args[0] == "--types") {
        types = true;
        args.erase(args.begin());
    }
    const bool fromFile = args.size() == 3 && args[1] == "-f";
    if (args.size() != 2 && !fromFile) {
        std::cerr << kUsage;
        return 2;
    }

    std::vector<FileStatement> statements;
    if (fromFile) {
        std::ifstream file(args[2], std::ios::binary);
        if (!file) {
            std::cerr << "vellumark-sql: cannot read " << args[2] << '\n';
            return 2;
        }
        std::ostringstream content;
        content << file.rdbuf();
        statements = SplitStatements(content.str());
    } else {
        statements.push_back({0, args[1]});
    }

    vm::db::DbConnection connection;
    if (!connection.open(vm::text::Utf8ToGbk(args[0]))) {
        std::cerr << "vellumark-sql: " << Failure(connection, "the connection could not be opened")
                  << '\n';
        return 1;
    }
    for (const FileStatement& statement : statements) {
        std::string error;
        if (!Run(connection, vm::text::Utf8ToGbk(statement.text), types, error)) {
            std::cerr << "vellumark-sql: ";
            if (fromFile)
                std::cerr << args[2] << ":" << statement.line << ": ";
            std::cerr << error << '\n';
            return 1;
        }
        std::cout.flush();
    }
    return 0;
}
